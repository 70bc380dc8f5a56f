#include "Zaznam.h"

#include "ExchangeHook.h"
#include "WindowKit.h"

#include <QAbstractListModel>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace
{

// Thousands apart by a space, as Czech writes them ("100 000").
QString Grouped(std::size_t n)
{
    QString digits = QString::number(qulonglong(n));
    for (int at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(' '));
    return digits;
}

} // namespace

// The ring as rows of trace text, one column, formatted when a view asks for a row.
class TZaznamModel : public QAbstractListModel
{
  public:
    TZaznamModel(const TExchangeRing &ring, const TExchangeLog &log, QObject *parent)
        : QAbstractListModel(parent), ring_(ring), log_(log)
    {
    }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : int(ring_.Size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || std::size_t(index.row()) >= ring_.Size())
            return {};
        const TExchangeRecord &record = ring_.At(std::size_t(index.row()));
        line_.clear();
        AppendRecordLine(line_, TTraceFormat::Text, clock_, record, log_.StatusText(record),
                         scratch_);
        line_.pop_back(); // the newline
        return QString::fromStdString(line_);
    }

    // The ring changes only between these, so that the view's rows stay
    // those of the ring.
    void BeginRemove(int n) { beginRemoveRows({}, 0, n - 1); }
    void EndRemove() { endRemoveRows(); }
    void BeginAppend(int n) { beginInsertRows({}, int(ring_.Size()), int(ring_.Size()) + n - 1); }
    void EndAppend() { endInsertRows(); }
    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }

  private:
    const TExchangeRing &ring_;
    const TExchangeLog &log_;
    mutable TTraceClock clock_;
    mutable TModuleStep scratch_;
    mutable std::string line_;
};

TZaznam::TZaznam(QWidget *owner, std::size_t capacity)
    : QWidget(owner, Qt::Window), ring_(capacity)
{
    setObjectName(QStringLiteral("Zaznam"));
    setWindowTitle(QStringLiteral("Záznam komunikace"));

    Label1 = new QLabel(QStringLiteral("Zobrazeno posledních %1 výměn")
                            .arg(Grouped(capacity)),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));

    model_ = new TZaznamModel(ring_, log_, this);
    TableView1 = new QTableView(this);
    TableView1->setObjectName(QStringLiteral("TableView1"));
    // A table of one column rather than a list: rows of one fixed height
    // are placed without laying out all 100 000 of them, which a list view
    // does again on every scroll to the newest.
    TableView1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    TableView1->setModel(model_);
    TableView1->setShowGrid(false);
    TableView1->setWordWrap(false);
    TableView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableView1->horizontalHeader()->hide();
    // Wide enough for a whole line, so that a long meaning scrolls rather
    // than being cut.
    TableView1->setTextElideMode(Qt::ElideNone);
    TableView1->horizontalHeader()->setStretchLastSection(true);
    TableView1->horizontalHeader()->resizeSection(
        0, TableView1->fontMetrics().horizontalAdvance(QString(180, QLatin1Char('0'))));
    TableView1->verticalHeader()->hide();
    TableView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TableView1->verticalHeader()->setDefaultSectionSize(TableView1->fontMetrics().height() + 2);

    Button1 = new QPushButton(QStringLiteral("&Pozastavit"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("&Vymazat"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3 = new QPushButton(QStringLiteral("&Uložit…"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    StatusBar1 = new TSinglePanelStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Label1, 1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(TableView1, 1);
    layout->addWidget(StatusBar1);
    resize(900, 420);

    connect(Button1, &QPushButton::clicked, this, &TZaznam::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TZaznam::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TZaznam::Button3Click);

    AskSavePath = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Uložit záznam komunikace"),
                                            QString(),
                                            QStringLiteral("Text (*.txt);;CSV (*.csv)"));
    };

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &TZaznam::Timer1Timer);
    Timer1->start();

    SetListening(true);
    ShowCount();
}

TZaznam::~TZaznam()
{
    SetListening(false);
}

void TZaznam::SetListening(bool on)
{
    if (on == listening_)
        return;
    listening_ = on;
    if (on)
        AddExchangeObserver(&log_);
    else
        RemoveExchangeObserver(&log_);
}

void TZaznam::Button1Click()
{
    const bool pause = !log_.Paused();
    log_.SetPaused(pause);
    Button1->setText(pause ? QStringLiteral("&Pokračovat") : QStringLiteral("&Pozastavit"));
    ShowCount();
}

void TZaznam::Button2Click()
{
    // What is queued but not yet shown goes too.
    log_.Take(batch_);
    model_->BeginReset();
    ring_.Clear();
    model_->EndReset();
    ShowCount();
}

void TZaznam::Button3Click()
{
    const QString path = AskSavePath ? AskSavePath() : QString();
    if (path.isEmpty())
        return;
    Timer1Timer(); // what has come so far belongs in the file
    const TTraceFormat format = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
                                    ? TTraceFormat::Csv
                                    : TTraceFormat::Text;
    const std::string bytes = Lines(format);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) ||
        !file.flush()) {
        StatusBar1->SetText(QStringLiteral(" Záznam se nepodařilo uložit: ") + file.errorString());
        return;
    }
    file.close();
    StatusBar1->SetText(QStringLiteral(" Záznam uložen (%1 výměn): %2")
                            .arg(Grouped(ring_.Size()), path));
}

void TZaznam::Timer1Timer()
{
    log_.Take(batch_);
    if (batch_.empty())
        return;
    QScrollBar *bar = TableView1->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const std::size_t capacity = ring_.Capacity();
    if (batch_.size() >= capacity) {
        // The whole view turns over: one reset rather than two big moves.
        model_->BeginReset();
        ring_.Clear();
        for (std::size_t i = batch_.size() - capacity; i < batch_.size(); ++i)
            ring_.Push(batch_[i]);
        model_->EndReset();
    } else {
        const std::size_t room = capacity - ring_.Size();
        if (batch_.size() > room) {
            const int drop = int(batch_.size() - room);
            model_->BeginRemove(drop);
            ring_.DropOldest(std::size_t(drop));
            model_->EndRemove();
        }
        model_->BeginAppend(int(batch_.size()));
        for (const TExchangeRecord &record : batch_)
            ring_.Push(record);
        model_->EndAppend();
    }
    if (atEnd)
        TableView1->scrollToBottom();
    ShowCount();
}

std::string TZaznam::Lines(TTraceFormat format) const
{
    std::string out;
    out.reserve(ring_.Size() * 200 + 512);
    if (format == TTraceFormat::Csv)
        out += TraceCsvHeader();
    TTraceClock clock;
    TModuleStep scratch;
    for (std::size_t i = 0; i < ring_.Size(); ++i) {
        const TExchangeRecord &record = ring_.At(i);
        AppendRecordLine(out, format, clock, record, log_.StatusText(record), scratch);
    }
    return out;
}

void TZaznam::ShowCount()
{
    QString text = QStringLiteral(" Výměn v záznamu: %1")
                       .arg(Grouped(ring_.Size()));
    if (log_.Paused())
        text += QStringLiteral(" (pozastaveno)");
    // Several times a second while exchanges flow: painted with the window,
    // not at once as an exchange's outcome is.
    StatusBar1->Panel()->setText(text);
}
