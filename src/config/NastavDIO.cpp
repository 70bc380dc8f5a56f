#include "NastavDIO.h"

#include "Module.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>

namespace {

constexpr std::size_t FirstByte = offsetof(TModuleConfig, DinNegation);
constexpr int Channels = 32;
constexpr int Boxes = 3 * Channels;

// The toolkit runs and the 1 ms pause follows the last register too.
TRegisterSequence Sequence()
{
    return {ChannelRegisters(), true};
}


std::size_t BoxByte(int index)
{
    return FirstByte + std::size_t(index / 8);
}

uint8_t BoxMask(int index)
{
    return uint8_t(1u << (index % 8));
}

} // namespace

TForm14::TForm14(QWidget *owner, TBuild build)
    : TRegisterDialog(owner, "Form14", QStringLiteral("Nastavení digitálních vstupů/výstupů"))
{
    if (build == TBuild::Now)
        EnsureBuilt();
}

QLayout *TForm14::BuildOwnControls()
{
    struct Group {
        const char *name;
        QString caption;
        QString channel;
    };
    const Group groups[] = {
        {"GroupBox1", QStringLiteral(" Negace DIN "), QStringLiteral("DIN")},
        {"GroupBox2", QStringLiteral("Negace DOUT "), QStringLiteral("DOUT")},
        {"GroupBox3", QStringLiteral(" Počáteční stav DOUT "), QStringLiteral("DOUT")},
    };
    // Rows 0-7 and 8-15 of each column, with a wider gap between them.
    constexpr int GapRow = 8;
    constexpr int GapHeight = 12;

    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    std::array<QGroupBox *, 3> boxes{};
    for (int g = 0; g < 3; ++g) {
        auto *box = new QGroupBox(groups[g].caption, this);
        box->setObjectName(QString::fromLatin1(groups[g].name));
        auto *grid = new QGridLayout(box);
        grid->setHorizontalSpacing(20);
        grid->setVerticalSpacing(2);
        grid->setRowMinimumHeight(GapRow, GapHeight);
        for (int channel = 0; channel < Channels; ++channel) {
            const int index = g * Channels + channel;
            auto *check = new QCheckBox(groups[g].channel + QString::number(channel), box);
            check->setObjectName(QStringLiteral("CheckBox%1").arg(index + 1));
            const int line = channel % 16;
            grid->addWidget(check, line < GapRow ? line : line + 1, channel / 16);
            CheckBoxes[std::size_t(index)] = check;
        }
        row->addWidget(box);
        boxes[std::size_t(g)] = box;
    }
    GroupBox1 = boxes[0];
    GroupBox2 = boxes[1];
    GroupBox3 = boxes[2];
    return row;
}

void TForm14::PrectiData(TModuleConfig &C)
{
    ReadRegisters(C, Sequence());
}

void TForm14::ZapisData(TModuleConfig C)
{
    WriteRegisters(C, Sequence());
}

void TForm14::PrectiOkno(TModuleConfig &C)
{
    EnsureBuilt();
    for (int i = 0; i < Boxes; ++i) {
        uint8_t &byte = ConfigByte(C, BoxByte(i));
        if (CheckBoxes[std::size_t(i)]->isChecked())
            byte = uint8_t(byte | BoxMask(i));
        else
            byte = uint8_t(byte & ~BoxMask(i));
    }
    ShowStatus(QStringLiteral(" "));
}

void TForm14::ZapisOkno(TModuleConfig C)
{
    EnsureBuilt();
    for (int i = 0; i < Boxes; ++i)
        CheckBoxes[std::size_t(i)]->setChecked((ConfigByte(C, BoxByte(i)) & BoxMask(i)) != 0);
}
