#include "ui/qt/history_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "platform/process.h"
#include "ui/qt/prompts.h"
#include "ui/qt/qt_text.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {
namespace {

constexpr int kPollMs = 500;
constexpr int kEntryRole = Qt::UserRole;  // the row's entry number, on column 0

int EntryOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kEntryRole).toInt() : 0;
}

}  // namespace

CHistoryDlg::CHistoryDlg(const store::DataFolder& dataFolder, platform::ProcessLauncher& launcher,
                         QWidget* parent)
    : QDialog(parent),
      history_(dataFolder),
      launcher_(launcher),
      filter_(new QComboBox(this)),
      list_(new QTreeWidget(this)),
      open_(new QPushButton(Q(rules::text::kOpenFolder), this)) {
    setObjectName(QStringLiteral("historyDialog"));
    setWindowTitle(Q(rules::text::kHistoryCaption));
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    filter_->setObjectName(QStringLiteral("historyFilter"));
    filter_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    list_->setObjectName(QStringLiteral("historyList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);  // thousands of rows stay quick
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    QStringList headers;
    for (rules::text::T column : rules::text::kHistoryColumns) headers << Q(column);
    list_->setHeaderLabels(headers);
    const int widths[] = {150, 160, 120, 200};
    for (int i = 0; i < 4; ++i) list_->setColumnWidth(i, widths[i]);
    open_->setObjectName(QStringLiteral("historyOpenFolder"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(Q(rules::text::kHistoryFilter), this));
    top->addWidget(filter_);
    top->addStretch();
    top->addWidget(open_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(Q(rules::text::kClose), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(860, 460);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(filter_, &QComboBox::currentIndexChanged, this, &CHistoryDlg::FillList);
    connect(list_, &QTreeWidget::currentItemChanged, this, &CHistoryDlg::UpdateButton);
    connect(list_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { OpenFolder(EntryOf(item)); });
    connect(open_, &QPushButton::clicked, this,
            [this] { OpenFolder(EntryOf(list_->currentItem())); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The number, not the row: the timer may drop rows while the menu is open.
        const int entry = EntryOf(list_->itemAt(at));
        if (entry <= 0) return;
        QMenu menu(this);
        connect(menu.addAction(Q(rules::text::kOpenFolder)), &QAction::triggered, this,
                [this, entry] { OpenFolder(entry); });
        menu.exec(list_->viewport()->mapToGlobal(at));
    });
    connect(&timer_, &QTimer::timeout, this, &CHistoryDlg::Poll);
    timer_.setInterval(kPollMs);

    filter_->addItem(Q(rules::text::kHistoryAll), 0);
    UpdateButton();
}

CHistoryDlg::~CHistoryDlg() = default;

void CHistoryDlg::showEvent(QShowEvent* event) {
    Poll();
    timer_.start();
    QDialog::showEvent(event);
}

void CHistoryDlg::hideEvent(QHideEvent* event) {
    timer_.stop();  // read on from where it stopped when shown again
    QDialog::hideEvent(event);
}

int CHistoryDlg::ChosenEntry() const {
    return filter_->currentData().toInt();
}

QTreeWidgetItem* CHistoryDlg::MakeItem(const store::LogRecord& record) const {
    auto* item = new QTreeWidgetItem(
        QStringList{Q(rules::HistoryTime(record.time)), Q(rules::HistoryEntry(record)),
                    Q(rules::EventLabel(record.event)), Q(record.file), Q(record.result)});
    item->setData(0, kEntryRole, record.entry);
    return item;
}

void CHistoryDlg::Poll() {
    const auto seen = history_.entries();
    const std::vector<store::LogRecord> added = history_.ReadNew();
    if (added.empty()) return;
    if (history_.entries() != seen) FillFilter();
    const int chosen = ChosenEntry();
    QList<QTreeWidgetItem*> rows;  // newest first
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
        if (chosen == 0 || it->entry == chosen) rows.append(MakeItem(*it));
    }
    list_->insertTopLevelItems(0, rows);
    while (static_cast<std::size_t>(list_->topLevelItemCount()) > rules::History::kMaxRows)
        const std::unique_ptr<QTreeWidgetItem> oldest(
            list_->takeTopLevelItem(list_->topLevelItemCount() - 1));
}

void CHistoryDlg::FillFilter() {
    // The titles may have changed; the choice stays on its entry.
    const int chosen = ChosenEntry();
    const QSignalBlocker quiet(filter_);
    filter_->clear();
    filter_->addItem(Q(rules::text::kHistoryAll), 0);
    for (const auto& [entry, text] : history_.entries()) {
        filter_->addItem(Q(text), entry);
        if (entry == chosen) filter_->setCurrentIndex(filter_->count() - 1);
    }
}

void CHistoryDlg::FillList() {
    const int chosen = ChosenEntry();
    QList<QTreeWidgetItem*> rows;
    const auto& records = history_.records();
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (chosen == 0 || it->entry == chosen) rows.append(MakeItem(*it));
    }
    list_->clear();
    list_->insertTopLevelItems(0, rows);
    UpdateButton();
}

void CHistoryDlg::UpdateButton() {
    open_->setEnabled(EntryOf(list_->currentItem()) > 0);
}

void CHistoryDlg::OpenFolder(int entry) {
    if (entry <= 0) return;
    const auto folder = history_.EntryFolder(entry);
    if (!folder || launcher_.OpenDocument(*folder) != platform::ProcessLauncher::OpenResult::Opened)
        ShowNotice(this, Q(rules::text::kFolderNotOpened));
}

}  // namespace tavren::ui
