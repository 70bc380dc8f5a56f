#include "Profil.h"

#include "ConfigText.h"
#include "Module.h"
#include "ScanText.h"
#include "Text.h"
#include "WindowKit.h"

#include <QCheckBox>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {

const QString Filter = QStringLiteral("Profil konfigurace (*.profile *.txt);;Všechny soubory (*)");

// The comparison's colours: a row that differs, a register written and
// checked, a register or module that failed.
const QColor RowDiffers(0xff, 0xe0, 0x8a);
const QColor RowDone(0xc8, 0xec, 0xc8);
const QColor RowFailed(0xf2, 0xa8, 0xa8);
const QColor TextInformation(0x80, 0x80, 0x80);

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

// The core's sentences start in lower case after "korvalctl: "; a status
// line starts a sentence.
QString Sentence(const std::string &s)
{
    QString t = Q(s);
    if (!t.isEmpty())
        t[0] = t[0].toUpper();
    return t;
}

// Texts the core ends with a newline, for a label or a status line.
QString Line(const std::string &s)
{
    QString t = Q(s);
    while (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    return t;
}

std::filesystem::path FsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QTableWidgetItem *Cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

bool Contains(const std::vector<TRegisterDifference> &list, const TRegisterStep &r)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const TRegisterDifference &x) { return x.Register.Byte == r.Byte; });
}

} // namespace

TProfil::TProfil(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Profil"));
    setWindowTitle(QStringLiteral("Profil konfigurace"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    resize(760, 620);

    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("&Uložit do souboru…"));
    Button2 = button("Button2", QStringLiteral("&Porovnat se souborem…"));
    Button3 = button("Button3", QStringLiteral("&Obnovit ze souboru…"));
    CheckBox1 = new QCheckBox(QStringLiteral("včetně &adresy a rychlosti"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setToolTip(QStringLiteral("Porovná a obnoví i adresu a rychlost modulu; "
                                         "platí až po restartu modulu."));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setPlaceholderText(QStringLiteral("např. 2,3,5-7"));
    auto *addresses = new QLabel(QStringLiteral("&Na adresy:"), this);
    addresses->setBuddy(Edit1);
    Button4 = button("Button4", QStringLiteral("&Klonovat na adresy…"));
    Button4->setToolTip(QStringLiteral("Zapíše nastavení kanálů ze souboru (ne adresu ani "
                                       "rychlost) do modulu na každé adrese."));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto table = [this](const char *name) {
        auto *t = new QTableWidget(this);
        t->setObjectName(QString::fromLatin1(name));
        t->setEditTriggers(QAbstractItemView::NoEditTriggers);
        t->setSelectionBehavior(QAbstractItemView::SelectRows);
        t->verticalHeader()->setVisible(false);
        t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 8);
        t->horizontalHeader()->setStretchLastSection(true);
        return t;
    };
    Table1 = table("Table1");
    Label2 = new QLabel(QStringLiteral("Nastavení kanálů, která se &liší:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Table2 = table("Table2");
    Label2->setBuddy(Table2);
    Table2->setColumnCount(4);
    Table2->setHorizontalHeaderLabels({QStringLiteral("Kanál"), QStringLiteral("Nastavení"),
                                       QStringLiteral("Modul"), QStringLiteral("Soubor")});
    Table2->setMaximumHeight(160);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    Button5 = button("Button5", QStringLiteral("Zas&tavit"));
    Button6 = button("Button6", QStringLiteral("&Zavřít"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    connect(Button1, &QPushButton::clicked, this, &TProfil::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TProfil::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TProfil::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TProfil::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TProfil::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TProfil::Button6Click);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 8);
    auto *actions = new QGridLayout;
    actions->addWidget(Button1, 0, 0);
    actions->addWidget(Button2, 0, 1);
    actions->addWidget(Button3, 0, 2);
    actions->addWidget(CheckBox1, 0, 3);
    actions->addWidget(addresses, 1, 0, Qt::AlignRight);
    actions->addWidget(Edit1, 1, 1);
    actions->addWidget(Button4, 1, 2);
    actions->setColumnStretch(4, 1);
    body->addLayout(actions);
    body->addWidget(Label1);
    body->addWidget(Table1, 1);
    body->addWidget(Label2);
    body->addWidget(Table2);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(ProgressBar1, 1);
    bottom->addWidget(Button5);
    bottom->addWidget(Button6);
    body->addLayout(bottom);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, CheckBox1);
    setTabOrder(CheckBox1, Edit1);
    setTabOrder(Edit1, Button4);
    setTabOrder(Button4, Table1);
    setTabOrder(Table1, Table2);
    setTabOrder(Table2, Button5);
    setTabOrder(Button5, Button6);

    SaveFileName = [this] { return AskSaveFileName(); };
    OpenFileName = [this] { return AskOpenFileName(); };
    Confirm = [this](const QString &question) { return AskConfirm(question); };
    SetRunning(false);
    Label2->setVisible(false);
    Table2->setVisible(false);
}

void TProfil::done(int r)
{
    if (running_) {
        stop_ = true;
        closeRequested_ = true;
        return;
    }
    QDialog::done(r);
}

// ---- Save ------------------------------------------------------------------

void TProfil::Button1Click()
{
    if (running_ || !ReadyToExchange(Data, *StatusBar1))
        return;
    const QString path = SaveFileName ? SaveFileName() : QString();
    if (path.isEmpty())
        return;
    Table1->setRowCount(0);
    Table2->setRowCount(0);
    Label1->clear();
    SetRunning(true);
    StatusBar1->SetText(QStringLiteral(" Čtu konfiguraci modulu…"));
    TConfigProfile profile;
    profile.Module = Data->ModuleName;
    const std::vector<TRegisterStep> all = RestoredRegisters(true);
    if (Read(all, profile.Config, QStringLiteral(" Soubor nebyl zapsán."))) {
        if (profile.Config.BaudCode >= BaudCodeCount) {
            StatusBar1->SetText(QLatin1Char(' ') +
                                Sentence(UnknownBaudCodeText(profile.Config.BaudCode)) +
                                QStringLiteral(" Nastavte rychlost v nastavení adresy a rychlosti."));
        } else if (!WriteProfileFile(FsPath(path), profile)) {
            StatusBar1->SetText(QLatin1Char(' ') +
                                Sentence(ProfileWriteFailedText(path.toStdString())));
        } else {
            const QString saved = Line(ProfileSavedText(path.toStdString(), profile));
            Label1->setText(saved);
            StatusBar1->SetText(QLatin1Char(' ') + saved);
        }
    }
    Finish();
}

// ---- Compare ---------------------------------------------------------------

void TProfil::Button2Click()
{
    if (running_ || !ReadyToExchange(Data, *StatusBar1))
        return;
    QString path;
    const std::optional<TConfigProfile> file = Load(path);
    if (!file)
        return;
    const bool withAddress = CheckBox1->isChecked();
    SetRunning(true);
    StatusBar1->SetText(QStringLiteral(" Čtu konfiguraci modulu…"));
    TModuleConfig module{};
    const std::vector<TRegisterStep> all = RestoredRegisters(true);
    if (Read(all, module, QString())) {
        // What a restore with the same check box would write.
        const TConfigDifference d = DiffProfile(module, file->Config, withAddress);
        const std::size_t compared = RestoredRegisters(withAddress).size();
        ShowRegisters(all, module, file->Config, d, false);
        ShowChannels(d);
        const std::string &name = Data->ModuleName;
        QString head = Q("Modul: " + name + "; v souboru: " + file->Module +
                         (name == file->Module ? "" : " (jen pro informaci)"));
        if (!d.Uncompared.empty())
            head += QStringLiteral("\nAdresa a rychlost (i) jen pro informaci: neporovnávají se, "
                                   "jako je obnovení nezapíše; porovná je „včetně adresy a "
                                   "rychlosti“.");
        const QString summary = Line(ProfileDiffSummary(d, compared, path.toStdString()));
        Label1->setText(head + QLatin1Char('\n') + summary);
        StatusBar1->SetText(QLatin1Char(' ') + summary);
    }
    Finish();
}

// ---- Restore ---------------------------------------------------------------

void TProfil::Button3Click()
{
    if (running_ || !ReadyToExchange(Data, *StatusBar1))
        return;
    QString path;
    const std::optional<TConfigProfile> file = Load(path);
    if (!file)
        return;
    const bool withAddress = CheckBox1->isChecked();
    const std::vector<TRegisterStep> registers = RestoredRegisters(withAddress);
    SetRunning(true);

    // First what would be written: nothing goes to the module before the
    // user has seen it.
    StatusBar1->SetText(QStringLiteral(" Čtu konfiguraci modulu…"));
    TModuleConfig module{};
    if (!Read(registers, module, QStringLiteral(" Nic nebylo zapsáno."))) {
        Finish();
        return;
    }
    const TConfigDifference d = DiffConfigs(module, file->Config, registers);
    ShowRegisters(registers, module, file->Config, d, true);
    Table2->setRowCount(0);
    const QString count = QString::number(registers.size());
    Label1->setText(QStringLiteral("Zapsalo by se: liší se %1 z %2 registrů (*).")
                        .arg(d.Registers.size())
                        .arg(count));
    QString question = QStringLiteral("Zapsat do modulu %1 registrů ze souboru %2?\n"
                                      "Liší se %3 z %1 (v tabulce označeny *).")
                           .arg(count, path)
                           .arg(d.Registers.size());
    if (withAddress)
        question += QLatin1Char('\n') + Line(RestartText(file->Config));
    StatusBar1->SetText(QStringLiteral(" Čeká na potvrzení…"));
    const bool confirmed = Confirm ? Confirm(question) : false;
    if (!confirmed || stop_) {
        StatusBar1->SetText(QStringLiteral(" Obnovení zrušeno, nic nebylo zapsáno."));
        Finish();
        return;
    }

    StatusBar1->SetText(QStringLiteral(" Zapisuji a ověřuji registry…"));
    ProgressBar1->setRange(0, int(registers.size()));
    ProgressBar1->setValue(0);
    const TStepReport report = [&](const TModuleStep &step) {
        const int row = int((step.Number - 1) / 2);
        QTableWidgetItem *cell = Table1->item(row, ColWrite);
        if (step.Number % 2 == 1) {
            // The write; its read-back follows.
            if (step.Status != 0) {
                cell->setText(QStringLiteral("zápis selhal"));
                MarkRow(row, RowFailed);
            } else {
                cell->setText(QStringLiteral("zapisuji…"));
            }
        } else if (step.Passed()) {
            cell->setText(QStringLiteral("zapsáno a ověřeno"));
            MarkRow(row, RowDone);
            ProgressBar1->setValue(int(step.Number / 2));
        } else {
            cell->setText(step.Mismatch ? QStringLiteral("přečteno %1").arg(step.Reply[2])
                                        : QStringLiteral("kontrola selhala"));
            MarkRow(row, RowFailed);
        }
        Table1->scrollToItem(cell);
        return Step(step, true);
    };
    const TModuleLink link{Data->Kind, Data->Handle, Data->Address};
    const TModuleResult written = WriteRegisters(link, registers, file->Config, report);
    const QString writtenText = Q(WrittenText(registers, written, last_));
    QString end;
    switch (written.Outcome) {
    case TOutcome::Done:
        end = QLatin1Char(' ') + Line(RestoredText(registers.size(), path.toStdString()));
        if (withAddress)
            end += QLatin1Char(' ') + Line(RestartText(file->Config));
        break;
    case TOutcome::Stopped: {
        end = QStringLiteral(" Obnovení zastaveno po kroku %1/%2.")
                  .arg(last_.Number)
                  .arg(last_.Total) +
              writtenText;
        const std::size_t next = last_.Number / 2;
        if (next < registers.size())
            end += QStringLiteral(" Registr %1 (%2) a další nebyly zapsány.")
                       .arg(registers[next].Register)
                       .arg(Q(RegisterText(registers[next])));
        break;
    }
    case TOutcome::Mismatch:
    case TOutcome::DriverError:
        end = QLatin1Char(' ') + FailureText(written) + writtenText;
        break;
    }
    // The label wraps what the status line may cut off.
    Label1->setText(end.trimmed());
    StatusBar1->SetText(end);
    Finish();
}

// ---- Clone -----------------------------------------------------------------

void TProfil::Button4Click()
{
    if (running_ || !ReadyToExchange(Data, *StatusBar1))
        return;
    const std::string list = Edit1->text().trimmed().toStdString();
    const std::optional<std::vector<uint8_t>> addresses = ParseAddressList(list);
    if (!addresses) {
        StatusBar1->SetText(QStringLiteral(" Na adresy: ") + Q(AddressListError(list)) +
                            QStringLiteral(" Nic nebylo odesláno."));
        Edit1->setFocus();
        return;
    }
    QString path;
    const std::optional<TConfigProfile> file = Load(path);
    if (!file)
        return;
    const std::span<const TRegisterStep> registers = ChannelRegisters();
    SetRunning(true);
    Table2->setRowCount(0);
    Table1->setRowCount(0);
    Table1->setColumnCount(ModuleColumns);
    Table1->setHorizontalHeaderLabels(
        {QStringLiteral("Adresa"), QStringLiteral("Modul"), QStringLiteral("Výsledek")});
    Label1->setText(QStringLiteral("Nastavení kanálů ze souboru %1 na adresy %2:")
                        .arg(path, Q(AddressListText(*addresses))));
    ProgressBar1->setRange(0, int(addresses->size()));
    ProgressBar1->setValue(0);

    // Each module through the same driver handle, its address in the link
    // only: the record keeps pointing at the connected module.
    std::size_t done = 0;
    for (uint8_t address : *addresses) {
        const int row = Table1->rowCount();
        Table1->insertRow(row);
        Table1->setItem(row, ColAddress, Cell(QString::number(address)));
        Table1->setItem(row, ColName, Cell(QString()));
        Table1->setItem(row, ColResult, Cell(QString()));
        Table1->scrollToItem(Table1->item(row, ColAddress));
        TModuleResult result{};
        std::string name;
        const bool attempted = !stop_;
        if (attempted) {
            StatusBar1->SetText(QStringLiteral(" Klonuji na adresu %1…").arg(address));
            Table1->item(row, ColResult)->setText(QStringLiteral("probíhá…"));
            const TModuleLink link{Data->Kind, Data->Handle, address};
            // The identity is read whole; a stop counts before the writes.
            result = ReadIdentity(link, name, [this](const TModuleStep &step) {
                last_ = step;
                QCoreApplication::processEvents();
                return true;
            });
            if (result.Ok() && stop_)
                result.Outcome = TOutcome::Stopped;
            else if (result.Ok())
                result = WriteRegisters(link, registers, file->Config,
                                        [this](const TModuleStep &step) { return Step(step, true); });
        }
        const std::string status = attempted && result.Outcome == TOutcome::DriverError
                                       ? StatusText(result.Status).toStdString()
                                       : std::string();
        const std::string error =
            CloneErrorText(registers, result, attempted, last_, status, "zastaveno");
        Table1->item(row, ColName)->setText(Q(name));
        const QString resultText = error.empty() ? Q(CloneDoneText(name)) : Q(error);
        Table1->item(row, ColResult)->setText(resultText);
        Table1->item(row, ColResult)->setToolTip(resultText);
        MarkRow(row, error.empty() ? RowDone : RowFailed);
        done += error.empty();
        Table1->resizeColumnsToContents();
        Table1->resizeRowToContents(row);
        ProgressBar1->setValue(row + 1);
        QCoreApplication::processEvents();
    }
    const QString summary = QStringLiteral("hotovo %1 z %2 modulů.").arg(done).arg(addresses->size());
    StatusBar1->SetText((stop_ ? QStringLiteral(" Klonování zastaveno: ")
                               : QStringLiteral(" Klonování dokončeno: ")) +
                        summary);
    Finish();
}

// ---- Stop and close --------------------------------------------------------

void TProfil::Button5Click()
{
    if (!running_)
        return;
    stop_ = true;
    StatusBar1->SetText(QStringLiteral(" Zastavuji po probíhající výměně…"));
}

void TProfil::Button6Click()
{
    // While an operation runs, a close is a stop first (done).
    reject();
}

// ---- Shared ----------------------------------------------------------------

std::optional<TConfigProfile> TProfil::Load(QString &path)
{
    path = OpenFileName ? OpenFileName() : QString();
    if (path.isEmpty())
        return std::nullopt;
    TProfileLoad load = ReadProfileFile(FsPath(path));
    if (!load.Profile) {
        StatusBar1->SetText(QStringLiteral(" Soubor ") + Q(Quoted(path.toStdString()) + load.Error) +
                            QStringLiteral(" Nic nebylo odesláno do modulu."));
        return std::nullopt;
    }
    return std::move(load.Profile);
}

bool TProfil::Read(std::span<const TRegisterStep> registers, TModuleConfig &config,
                   const QString &after)
{
    ProgressBar1->setRange(0, int(registers.size()));
    ProgressBar1->setValue(0);
    const TModuleLink link{Data->Kind, Data->Handle, Data->Address};
    const TModuleResult r = ReadRegisters(link, registers, config, [this](const TModuleStep &step) {
        if (step.Passed())
            ProgressBar1->setValue(int(step.Number));
        return Step(step, false);
    });
    if (r.Ok())
        return true;
    StatusBar1->SetText(QLatin1Char(' ') + FailureText(r) + after);
    return false;
}

bool TProfil::Step(const TModuleStep &step, bool pairs)
{
    last_ = step;
    QCoreApplication::processEvents();
    if (!stop_ || step.Number == step.Total)
        return true;
    return pairs && step.Number % 2 == 1;
}

void TProfil::ShowRegisters(std::span<const TRegisterStep> registers, const TModuleConfig &module,
                            const TModuleConfig &file, const TConfigDifference &d, bool withWrite)
{
    Table1->setRowCount(0);
    Table1->setColumnCount(RegisterColumns);
    Table1->setHorizontalHeaderLabels({QString(), QStringLiteral("Registr"),
                                       QStringLiteral("Nastavení"), QStringLiteral("Modul"),
                                       QStringLiteral("Soubor"), QStringLiteral("Zápis")});
    Table1->setColumnHidden(ColWrite, !withWrite);
    Table1->setRowCount(int(registers.size()));
    for (int row = 0; row < int(registers.size()); ++row) {
        const TRegisterStep &r = registers[std::size_t(row)];
        const bool differs = Contains(d.Registers, r);
        const bool information = Contains(d.Uncompared, r);
        Table1->setItem(row, ColMark, Cell(differs       ? QStringLiteral("*")
                                           : information ? QStringLiteral("i")
                                                         : QString()));
        Table1->setItem(row, ColRegister, Cell(QString::number(r.Register)));
        Table1->setItem(row, ColSetting, Cell(Q(RegisterText(r))));
        Table1->setItem(row, ColModule, Cell(Q(RegisterValueText(r, ConfigByte(module, r.Byte)))));
        Table1->setItem(row, ColFile, Cell(Q(RegisterValueText(r, ConfigByte(file, r.Byte)))));
        Table1->setItem(row, ColWrite, Cell(QString()));
        if (differs)
            MarkRow(row, RowDiffers);
        if (information) {
            for (int c = 0; c < RegisterColumns; ++c)
                Table1->item(row, c)->setForeground(TextInformation);
            Table1->item(row, ColMark)
                ->setToolTip(QStringLiteral("Jen pro informaci: obnovení bez adresy a "
                                            "rychlosti tento registr nezapíše."));
        }
    }
    Table1->resizeColumnsToContents();
}

void TProfil::ShowChannels(const TConfigDifference &d)
{
    Label2->setVisible(true);
    Table2->setVisible(true);
    Table2->setRowCount(int(d.Channels.size()));
    for (int row = 0; row < int(d.Channels.size()); ++row) {
        const TChannelDifference &c = d.Channels[std::size_t(row)];
        Table2->setItem(row, 0, Cell(QString::number(c.Channel)));
        Table2->setItem(row, 1, Cell(Q(c.Setting->Text)));
        Table2->setItem(row, 2, Cell(QString::number(c.Left)));
        Table2->setItem(row, 3, Cell(QString::number(c.Right)));
    }
    Table2->resizeColumnsToContents();
}

void TProfil::MarkRow(int row, const QColor &background)
{
    for (int c = 0; c < Table1->columnCount(); ++c)
        if (QTableWidgetItem *item = Table1->item(row, c))
            item->setBackground(background);
}

QString TProfil::FailureText(const TModuleResult &r)
{
    switch (r.Outcome) {
    case TOutcome::Done:
        return {};
    case TOutcome::Stopped:
        return QStringLiteral("Zastaveno po kroku %1/%2.").arg(last_.Number).arg(last_.Total);
    case TOutcome::Mismatch:
        return Q("Zpětné čtení nesouhlasí se zapsanou hodnotou: " + StepText(last_) + ".");
    case TOutcome::DriverError:
        break;
    }
    return Sentence(StepText(last_)) + QStringLiteral(" selhal: ") + StatusText(r.Status) +
           QLatin1Char('.');
}

QString TProfil::StatusText(int32_t status)
{
    return DriverStatusText(Data->Kind, status, text_);
}

void TProfil::SetRunning(bool running)
{
    running_ = running;
    if (running) {
        // Only a comparison has channels to show.
        Label2->setVisible(false);
        Table2->setVisible(false);
        stop_ = false;
        closeRequested_ = false;
        last_ = {};
    }
    Button1->setEnabled(!running);
    Button2->setEnabled(!running);
    Button3->setEnabled(!running);
    Button4->setEnabled(!running);
    CheckBox1->setEnabled(!running);
    Edit1->setEnabled(!running);
    Button5->setEnabled(running);
}

void TProfil::Finish()
{
    SetRunning(false);
    if (closeRequested_) {
        closeRequested_ = false;
        QDialog::done(QDialog::Rejected);
    }
}

QString TProfil::AskSaveFileName()
{
    return QFileDialog::getSaveFileName(this, QStringLiteral("Uložit profil konfigurace"),
                                        QStringLiteral("modul.profile"), Filter);
}

QString TProfil::AskOpenFileName()
{
    return QFileDialog::getOpenFileName(this, QStringLiteral("Otevřít profil konfigurace"),
                                        QString(), Filter);
}

bool TProfil::AskConfirm(const QString &question)
{
    return QMessageBox::question(this, QStringLiteral("Obnovit ze souboru"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}
