#include "Hledani.h"

#include "Module.h"
#include "ScanText.h"
#include "WindowKit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace {

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

const QString TextStart = QStringLiteral("&Hledat");
const QString TextStop = QStringLiteral("Zas&tavit");

} // namespace

THledani::THledani(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Hledani"));
    setWindowTitle(QStringLiteral("Hledat moduly"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(QStringLiteral("0-255"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setToolTip(QStringLiteral("Čísla a rozsahy 0..255 oddělené čárkou, např. 1-32,100"));
    auto *addresses = new QLabel(QStringLiteral("&Adresy:"), this);
    addresses->setBuddy(Edit1);

    auto *rates = new QGroupBox(QStringLiteral("Rychlosti"), this);
    rates->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(rates);
    const std::vector<uint8_t> codes = DefaultScanBaudCodes();
    for (std::size_t i = 0; i < CheckBox.size(); ++i) {
        // Access letters 1..9 in the scan's order: 9600 Bd is Alt+1.
        auto *box = new QCheckBox(QStringLiteral("&%1  %2").arg(i + 1).arg(Q(RateText(codes[i]))),
                                  rates);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
        box->setProperty("baudCode", int(codes[i]));
        box->setChecked(true);
        CheckBox[i] = box;
        grid->addWidget(box, int(i / 3), int(i % 3));
    }

    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button("Button1", TextStart);
    Button1->setDefault(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("%p %"));

    StringGrid1 = new QTableWidget(0, 4, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Adresa"), QStringLiteral("Rychlost"),
                                            QStringLiteral("Modul"), QStringLiteral("Poznámka")});
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->horizontalHeader()->setStretchLastSection(true);
    StringGrid1->setColumnWidth(0, 60);
    StringGrid1->setColumnWidth(1, 90);
    StringGrid1->setColumnWidth(2, 150);
    StringGrid1->setMinimumHeight(160);
    auto *finds = new QLabel(QStringLiteral("&Nalezené moduly:"), this);
    finds->setBuddy(StringGrid1);

    Button2 = button("Button2", QStringLiteral("&Připojit"));
    Button3 = button("Button3", QStringLiteral("&Zavřít"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    connect(Button1, &QPushButton::clicked, this, &THledani::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &THledani::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &THledani::Button3Click);
    connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, &THledani::Button2Click);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 8);
    body->addWidget(Label1);
    auto *range = new QHBoxLayout;
    range->addWidget(addresses);
    range->addWidget(Edit1, 1);
    body->addLayout(range);
    body->addWidget(rates);
    auto *run = new QHBoxLayout;
    run->addWidget(Button1);
    run->addWidget(ProgressBar1, 1);
    body->addLayout(run);
    body->addWidget(finds);
    body->addWidget(StringGrid1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    body->addLayout(buttons);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);

    QWidget *previous = Edit1;
    for (QCheckBox *box : CheckBox) {
        setTabOrder(previous, box);
        previous = box;
    }
    setTabOrder(previous, Button1);
    setTabOrder(Button1, StringGrid1);
    setTabOrder(StringGrid1, Button2);
    setTabOrder(Button2, Button3);
    Button2->setEnabled(false);
    resize(560, 480);
}

THledani::~THledani()
{
    if (worker_ != nullptr) {
        stop_ = true;
        worker_->wait();
    }
}

void THledani::showEvent(QShowEvent *event)
{
    if (Data != nullptr)
        Label1->setText(QStringLiteral("Rozhraní: ") + Q(InterfaceText(*Data)));
    QDialog::showEvent(event);
}

void THledani::done(int r)
{
    if (worker_ != nullptr) {
        stop_ = true;
        closeRequested_ = true;
        StatusBar1->SetText(QStringLiteral(" Zastavuji hledání po probíhající adrese…"));
        return;
    }
    QDialog::done(r);
}

void THledani::Button1Click()
{
    if (worker_ != nullptr) {
        stop_ = true;
        Button1->setEnabled(false);
        StatusBar1->SetText(QStringLiteral(" Zastavuji hledání po probíhající adrese…"));
        return;
    }
    Start();
}

void THledani::Start()
{
    if (Data == nullptr)
        return;
    const std::string range = Edit1->text().trimmed().toStdString();
    const std::optional<std::vector<uint8_t>> addresses = ParseAddressList(range);
    if (!addresses) {
        StatusBar1->SetText(QStringLiteral(" Adresy: ") + Q(AddressListError(range)));
        Edit1->setFocus();
        return;
    }
    std::vector<uint8_t> codes;
    for (QCheckBox *box : CheckBox) {
        if (box->isChecked())
            codes.push_back(uint8_t(box->property("baudCode").toInt()));
    }
    if (codes.empty()) {
        StatusBar1->SetText(QStringLiteral(" Zaškrtněte aspoň jednu rychlost."));
        CheckBox[0]->setFocus();
        return;
    }

    plan_ = TScanOptions{};
    plan_.Addresses = *addresses;
    plan_.BaudCodes = codes;
    plan_.Guard = DefaultScanGuardFor(Data->Kind);
    plan_.WireTimed = DriversWireTimed();

    QString said;
    if (Data->Connected && Data->Handle != 0) {
        said = QStringLiteral(" Připojení k modulu %1 uzavřeno: hledání nastavuje rozhraní znovu "
                              "při každé rychlosti.")
                   .arg(Q(Data->ModuleName));
        CloseRecord(*Data);
    }

    StringGrid1->setRowCount(0);
    finds_.clear();
    texts_.clear();
    probed_ = 0;
    stop_ = false;
    closeRequested_ = false;
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("%p %"));
    Button1->setText(TextStop);
    Button2->setEnabled(false);
    Edit1->setEnabled(false);
    for (QCheckBox *box : CheckBox)
        box->setEnabled(false);
    StatusBar1->SetText(said.isEmpty() ? QStringLiteral(" Probíhá hledání…") : said);

    const TScanLink link = ScanLinkOf(*Data);
    const TScanOptions plan = plan_;
    const uint8_t kind = Data->Kind;
    worker_ = QThread::create([this, link, plan, kind] {
        // The driver's texts are taken during the scan: it unloads the
        // library when it closes its connection.
        const TStepReport step = [this, kind](const TModuleStep &x) {
            if (x.Status != 0 && texts_.find(x.Status) == texts_.end())
                texts_[x.Status] = StatusCodeText(kind, x.Status, text_);
            return !stop_.load();
        };
        std::size_t posted = 0;
        const TScanReport progress = [this, &posted](const TScanProgress &p) {
            std::vector<TScanFind> fresh;
            if (p.Finds != nullptr && p.Finds->size() > posted) {
                fresh.assign(p.Finds->begin() + std::ptrdiff_t(posted), p.Finds->end());
                posted = p.Finds->size();
            }
            TScanProgress copy = p;
            copy.Finds = nullptr;
            QMetaObject::invokeMethod(
                this,
                [this, copy, fresh = std::move(fresh)] {
                    for (const TScanFind &f : fresh)
                        AddRow(f);
                    ShowProgress(copy);
                },
                Qt::QueuedConnection);
            return !stop_.load();
        };
        const auto begun = std::chrono::steady_clock::now();
        result_ = ScanModules(link, plan, step, progress);
        elapsed_ = std::chrono::steady_clock::now() - begun;
    });
    worker_->setObjectName(QStringLiteral("Hledani scan"));
    connect(worker_, &QThread::finished, this, &THledani::Finish, Qt::QueuedConnection);
    worker_->start();
}

void THledani::ShowProgress(const TScanProgress &p)
{
    if (worker_ == nullptr)
        return;
    probed_ = p.Done;
    ProgressBar1->setValue(int(ScanPercent(p)));
    ProgressBar1->setFormat(QStringLiteral("%p %  uplynulo %1  zbývá ~%2  (%3, adresa %4)")
                                .arg(Q(ClockText(p.Elapsed)), Q(ScanLeftText(p)),
                                     Q(RateText(p.BaudCode)))
                                .arg(p.Address));
}

QString THledani::FindText(const TScanFind &f) const
{
    return Q(ScanFindName(f, [this](int32_t status) {
        const auto found = texts_.find(status);
        return found != texts_.end() ? found->second : std::to_string(status);
    }));
}

void THledani::AddRow(const TScanFind &f)
{
    const int row = StringGrid1->rowCount();
    StringGrid1->insertRow(row);
    auto cell = [&](int column, const QString &text, bool number) {
        auto *item = new QTableWidgetItem(text);
        if (number)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        StringGrid1->setItem(row, column, item);
    };
    cell(0, QString::number(f.Address), true);
    cell(1, Q(RateText(f.BaudCode)), true);
    // The worker's texts are complete only at the end; a refusal's row is
    // written again then.
    cell(2, worker_ == nullptr ? FindText(f) : Q(f.Name), false);
    cell(3, Q(ScanFindNote(f, plan_)), false);
}

void THledani::Finish()
{
    if (worker_ == nullptr)
        return;
    worker_->wait();
    delete worker_;
    worker_ = nullptr;

    // The finds as the scan ended with them: a late one may have been
    // completed after its row was posted.
    finds_ = result_.Finds;
    StringGrid1->setRowCount(0);
    for (const TScanFind &f : finds_)
        AddRow(f);
    if (!finds_.empty())
        StringGrid1->selectRow(0);

    const std::size_t total = plan_.Addresses.size() * plan_.BaudCodes.size();
    const QString after = QStringLiteral(" Hledání skončilo po %1 z %2 zkoušek (adresa při rychlosti).")
                              .arg(probed_)
                              .arg(total);
    switch (result_.Outcome) {
    case TScanOutcome::Done:
        ProgressBar1->setValue(100);
        ProgressBar1->setFormat(QStringLiteral("%p %  trvalo %1").arg(Q(ClockText(
            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed_)))));
        StatusBar1->SetText(QStringLiteral(" Hledání dokončeno – ") +
                            Q(ScanSummaryText(result_, plan_, probed_, elapsed_)));
        break;
    case TScanOutcome::Stopped:
        StatusBar1->SetText(QStringLiteral(" Hledání zastaveno po %1 z %2 zkoušek (adresa při "
                                           "rychlosti); v tabulce je, co se našlo do té doby.")
                                .arg(probed_)
                                .arg(total));
        break;
    case TScanOutcome::DriverError: {
        const QString text = Q(result_.StatusText);
        if (result_.Stage == TScanStage::Init)
            StatusBar1->SetText(QStringLiteral(" Chyba inicializace připojení (%1) - %2.")
                                    .arg(Q(InterfaceText(*Data)), text) +
                                after);
        else if (result_.Stage == TScanStage::SetConfig)
            StatusBar1->SetText(QStringLiteral(" Nastavení rychlosti %1 selhalo: %2.")
                                    .arg(Q(RateText(result_.BaudCode)), text) +
                                after);
        else
            StatusBar1->SetText(QStringLiteral(" Výměna selhala: %1.").arg(text) + after);
        break;
    }
    }

    Button1->setText(TextStart);
    Button1->setEnabled(true);
    Button2->setEnabled(!finds_.empty());
    Edit1->setEnabled(true);
    for (QCheckBox *box : CheckBox)
        box->setEnabled(true);
    emit ScanEnded();
    if (closeRequested_) {
        closeRequested_ = false;
        QDialog::done(QDialog::Rejected);
    }
}

void THledani::Button2Click()
{
    if (worker_ != nullptr || Data == nullptr)
        return;
    const int row = StringGrid1->currentRow();
    if (row < 0 || std::size_t(row) >= finds_.size()) {
        StatusBar1->SetText(QStringLiteral(" Vyberte v tabulce nalezený modul."));
        return;
    }
    const TScanFind &f = finds_[std::size_t(row)];
    if (f.Collision) {
        StatusBar1->SetText(QStringLiteral(" Na adrese %1 při %2 odpovídá asi více modulů "
                                           "najednou (kolize); připojit se nelze.")
                                .arg(f.Address)
                                .arg(Q(RateText(f.BaudCode))));
        return;
    }
    CloseRecord(*Data);
    StatusBar1->SetText(QStringLiteral(" Probíhá inicializace připojení"));
    Data->Address = f.Address;
    Data->BaudRate = BaudCodeToRate(f.BaudCode);
    FillInitParams(*Data);
    const TConnectResult r = ConnectRecord(*Data, f.Address, f.BaudCode, text_);
    switch (r.Stage) {
    case TConnectStage::Init:
    case TConnectStage::SetConfig:
        StatusBar1->SetText(QStringLiteral(" Chyba inicializace připojení - ") + Q(r.StatusText));
        return;
    case TConnectStage::Identity:
        StatusBar1->SetText(QLatin1Char(' ') + Q(r.StatusText));
        return;
    case TConnectStage::Done:
        break;
    }
    StatusBar1->SetText(QStringLiteral(" Připojen modul %1 na adrese %2, %3.")
                            .arg(Q(Data->ModuleName))
                            .arg(f.Address)
                            .arg(Q(RateText(f.BaudCode))));
    // Connected as the technician asked: the main window shows the module.
    accept();
}

void THledani::Button3Click()
{
    reject();
}
