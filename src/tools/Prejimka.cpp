#include "Prejimka.h"

#include "IoTestText.h"
#include "WindowKit.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTextDocument>
#include <QThread>
#include <QVBoxLayout>

#include <ctime>

namespace {

const QString FilterHtml = QStringLiteral("Stránka HTML (*.html)");
const QString FilterPdf = QStringLiteral("Dokument PDF (*.pdf)");

// The grid's colours are the report's, so screen and sheet read alike.
const QString CellPending = QStringLiteral("background:#f4f4f4; color:#888;");
const QString CellPass = QStringLiteral("background:#b8e6b8; color:#000;");
const QString CellFail = QStringLiteral("background:#f2a8a8; color:#000; font-weight:bold;");

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

QString StepsText(const TIoTestResult &r)
{
    return QStringLiteral("%1 z %2 kroků").arg(r.Steps.size()).arg(r.StepsPlanned);
}

QString OffText(const TIoTestResult &r)
{
    return r.OutputsOff ? QStringLiteral(" Výstupy vypnuty.")
                        : QStringLiteral(" Výstupy se nepodařilo vypnout.");
}

bool IsPdf(const QString &path)
{
    return path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive);
}

} // namespace

TPrejimka::TPrejimka(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Prejimka"));
    setWindowTitle(QStringLiteral("Přejímací zkouška"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        return e;
    };
    Edit1 = edit("Edit1");
    Edit2 = edit("Edit2");
    Edit3 = edit("Edit3");
    SpinBox1 = new QSpinBox(this);
    SpinBox1->setObjectName(QStringLiteral("SpinBox1"));
    // korvalctl test --interval's range.
    SpinBox1->setRange(0, 10000);
    SpinBox1->setSuffix(QStringLiteral(" ms"));

    auto *fields = new QGroupBox(QStringLiteral("Zkoušený modul"), this);
    fields->setObjectName(QStringLiteral("GroupBox1"));
    auto *form = new QFormLayout(fields);
    auto label = [this](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    form->addRow(label(QStringLiteral("Zk&oušel:"), Edit1), Edit1);
    form->addRow(label(QStringLiteral("&Výrobní číslo:"), Edit2), Edit2);
    form->addRow(label(QStringLiteral("&Poznámka:"), Edit3), Edit3);
    form->addRow(label(QStringLiteral("Pro&dleva před čtením vstupů:"), SpinBox1), SpinBox1);

    auto *channels = new QGroupBox(QStringLiteral("Kanály (DOUTn propojen s DINn)"), this);
    channels->setObjectName(QStringLiteral("GroupBox2"));
    auto *grid = new QGridLayout(channels);
    grid->setSpacing(3);
    for (int n = 0; n < 32; ++n) {
        auto *cell = new QLabel(channels);
        cell->setObjectName(QStringLiteral("Kanal%1").arg(n));
        cell->setAlignment(Qt::AlignCenter);
        cell->setFrameShape(QFrame::Box);
        cell->setMinimumSize(92, 40);
        Kanal[std::size_t(n)] = cell;
        grid->addWidget(cell, n / 8, n % 8);
    }

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    Label1->setFont(big);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, int(IoTestPatterns().size()));
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("%v z %m vzorů"));

    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("&Spustit"));
    Button2 = button("Button2", QStringLiteral("Zas&tavit"));
    Button3 = button("Button3", QStringLiteral("&Uložit protokol…"));
    Button4 = button("Button4", QStringLiteral("&Zavřít"));
    Button1->setDefault(true);
    StatusBar1 = new TSinglePanelStatusBar(this);

    connect(Button1, &QPushButton::clicked, this, &TPrejimka::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TPrejimka::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TPrejimka::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TPrejimka::Button4Click);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 8);
    body->addWidget(fields);
    body->addWidget(channels);
    body->addWidget(Label1);
    body->addWidget(ProgressBar1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    buttons->addWidget(Button3);
    buttons->addWidget(Button4);
    body->addLayout(buttons);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, SpinBox1);
    setTabOrder(SpinBox1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);

    SaveFileName = [this] { return AskFileName(); };
    for (QLabel *cell : Kanal) {
        cell->setText(QStringLiteral("%1").arg(cell->objectName().mid(5)));
        cell->setStyleSheet(CellPending);
    }
    SetRunning(false);
}

void TPrejimka::done(int r)
{
    if (running_) {
        stop_ = true;
        closeRequested_ = true;
        return;
    }
    QDialog::done(r);
}

void TPrejimka::Button1Click()
{
    if (running_ || !ReadyToExchange(Data, *StatusBar1))
        return;
    date_ = ReportDateText(std::time(nullptr));
    result_.reset();
    failedStatus_ = 0;
    failedWhat_.clear();
    stop_ = false;
    closeRequested_ = false;
    Label1->clear();
    ProgressBar1->setValue(0);
    for (QLabel *cell : Kanal) {
        cell->setText(cell->objectName().mid(5));
        cell->setStyleSheet(CellPending);
    }
    intervalMs_ = unsigned(SpinBox1->value());
    SetRunning(true);
    StatusBar1->SetText(QStringLiteral(" Probíhá zkouška…"));

    TIoTestOptions options;
    options.Settle = std::chrono::milliseconds(intervalMs_);
    // The pause keeps the window alive and hears Zastavit.
    options.Wait = [this](std::chrono::milliseconds d) {
        const QDeadlineTimer until(d.count());
        while (!until.hasExpired() && !stop_) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        return !stop_;
    };
    options.Progress = [this](const TIoTestResult &sofar) {
        ProgressBar1->setValue(int(sofar.Steps.size()));
        // A channel counts as passed only at the end; until then the
        // faults show as they are found.
        ShowChannels(IoTestVerdicts(sofar.Steps, sofar.DoutNegation, sofar.DinNegation, false));
        return !stop_;
    };
    const TStepReport report = [this](const TModuleStep &step) {
        if (step.Status != 0 && failedStatus_ == 0) {
            failedStatus_ = step.Status;
            failedWhat_ = step.What;
        }
        QCoreApplication::processEvents();
        return !stop_;
    };
    const TModuleLink link{Data->Kind, Data->Handle, Data->Address};
    result_ = RunIoTest(link, options, report);
    ShowEnd(*result_);
    SetRunning(false);
    if (closeRequested_) {
        closeRequested_ = false;
        QDialog::done(QDialog::Rejected);
    }
}

void TPrejimka::Button2Click()
{
    if (!running_)
        return;
    stop_ = true;
    StatusBar1->SetText(QStringLiteral(" Zastavuji po probíhající výměně…"));
}

void TPrejimka::Button3Click()
{
    if (running_)
        return;
    if (!result_) {
        StatusBar1->SetText(QStringLiteral(" Nejprve spusťte zkoušku."));
        return;
    }
    const QString path = SaveFileName ? SaveFileName() : QString();
    if (path.isEmpty())
        return;
    ZapisProtokol(path);
}

void TPrejimka::Button4Click()
{
    // While the test runs, a close is a stop first (done).
    reject();
}

bool TPrejimka::ZapisProtokol(const QString &path)
{
    if (!result_) {
        StatusBar1->SetText(QStringLiteral(" Nejprve spusťte zkoušku."));
        return false;
    }
    const std::string html = AcceptanceHtml(Page(), *result_);
    bool ok = false;
    if (IsPdf(path)) {
        QTextDocument document;
        document.setHtml(Q(html));
        {
            QPdfWriter pdf(path);
            pdf.setTitle(QStringLiteral("Přejímací zkouška vstupů a výstupů"));
            pdf.setPageSize(QPageSize(QPageSize::A4));
            pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
            document.print(&pdf);
        }
        // QPdfWriter reports no error: a file that cannot be created stays
        // absent or empty.
        ok = QFileInfo(path).size() > 0;
    } else {
        // Whole or not at all, as korvalctl's profiles are written.
        QSaveFile file(path);
        ok = file.open(QIODevice::WriteOnly) &&
             file.write(html.data(), qint64(html.size())) == qint64(html.size()) &&
             file.commit();
    }
    StatusBar1->SetText(ok ? QStringLiteral(" Protokol zapsán do %1").arg(path)
                           : QStringLiteral(" Protokol se nepodařilo zapsat do %1").arg(path));
    return ok;
}

void TPrejimka::ShowChannels(const std::array<TChannelVerdict, 32> &verdicts)
{
    for (const TChannelVerdict &v : verdicts) {
        QLabel *cell = Kanal[std::size_t(v.Channel)];
        const bool pending = v.Fault == TChannelFault::Untested;
        const QString text = pending ? QString::number(v.Channel)
                                     : QStringLiteral("%1\n%2").arg(v.Channel).arg(Q(FaultText(v)));
        const QString &style = pending                            ? CellPending
                               : v.Fault == TChannelFault::Pass ? CellPass
                                                                : CellFail;
        // Restyling is the costly part; most cells stay as they were.
        if (cell->text() != text)
            cell->setText(text);
        if (cell->styleSheet() != style)
            cell->setStyleSheet(style);
    }
}

void TPrejimka::ShowEnd(const TIoTestResult &r)
{
    ProgressBar1->setValue(int(r.Steps.size()));
    ShowChannels(r.Channels);
    Label1->setText(Q(ModuleVerdictText(r)));
    Label1->setStyleSheet(r.Passed() ? QStringLiteral("color:#060;")
                                     : QStringLiteral("color:#b00;"));
    switch (r.Module.Outcome) {
    case TOutcome::Done:
        StatusBar1->SetText(QStringLiteral(" Zkouška dokončena: %1.").arg(Q(IoTestRunText(r))) +
                            OffText(r));
        break;
    case TOutcome::Stopped:
        StatusBar1->SetText(QStringLiteral(" Zkouška zastavena po %1.").arg(StepsText(r)) +
                            OffText(r));
        break;
    case TOutcome::DriverError:
    case TOutcome::Mismatch: {
        const QString what = failedWhat_.empty() ? QString()
                                                 : QStringLiteral(" (%1)").arg(Q(failedWhat_));
        StatusBar1->SetText(QLatin1Char(' ') +
                            DriverStatusText(Data->Kind, r.Module.Status, text_) + what +
                            QStringLiteral(" Zkouška skončila po %1.").arg(StepsText(r)) +
                            OffText(r));
        break;
    }
    }
}

void TPrejimka::SetRunning(bool running)
{
    running_ = running;
    Button1->setEnabled(!running);
    Button2->setEnabled(running);
    Button3->setEnabled(!running);
    Edit1->setEnabled(!running);
    Edit2->setEnabled(!running);
    Edit3->setEnabled(!running);
    SpinBox1->setEnabled(!running);
}

TReportPage TPrejimka::Page() const
{
    TReportPage p;
    if (Data != nullptr) {
        p.Module = Data->ModuleName;
        p.Interface = InterfaceText(*Data);
        p.Address = Data->Address;
        p.BaudRate = Data->BaudRate;
    }
    p.Date = date_;
    p.IntervalMs = intervalMs_;
    p.Tester = Edit1->text().trimmed().toStdString();
    p.Serial = Edit2->text().trimmed().toStdString();
    p.Note = Edit3->text().trimmed().toStdString();
    return p;
}

QString TPrejimka::AskFileName()
{
    QString filter = FilterHtml;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Uložit protokol"),
                                                QStringLiteral("protokol.html"),
                                                FilterHtml + QStringLiteral(";;") + FilterPdf,
                                                &filter);
    if (path.isEmpty())
        return path;
    // The filter chosen decides a name typed without its extension.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QStringLiteral("pdf") && suffix != QStringLiteral("html") &&
        suffix != QStringLiteral("htm"))
        path += filter == FilterPdf ? QStringLiteral(".pdf") : QStringLiteral(".html");
    return path;
}
