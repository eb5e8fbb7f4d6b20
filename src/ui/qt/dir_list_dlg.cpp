#include "ui/qt/dir_list_dlg.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "platform/start_with_desktop.h"
#include "ui/qt/controls.h"
#include "ui/qt/dialog_units.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {
namespace {

namespace text = rules::text;

QPushButton* Button(QWidget* parent, const DialogUnits& du, int id, std::string_view caption,
                    int y) {
    auto* button = new QPushButton(Q(caption), parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    du.Place(button, 223, y, 50, 16);
    return button;
}

QLabel* Static(QWidget* parent, const DialogUnits& du, const QString& name, int x, int y, int w) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Folder and program names are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    du.Place(label, x, y, w, 8);
    return label;
}

}  // namespace

CDirListDlg::CDirListDlg(const store::DataFolder& dataFolder, QWidget* parent, EntryEditor editor,
                         platform::StartSetting* start)
    : QDialog(parent), editor_(std::move(editor)) {
    setObjectName(QStringLiteral("dialog132"));
    setWindowTitle(Q(text::kListCaption));
    // Opened from the icon's menu it has no owner: a window of its own, with
    // a taskbar entry, rather than a dialog that X11 makes transient for a
    // hidden window, which leaves it nowhere to be restored from when minimized.
    setWindowFlags((parent ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont(11));
    const DialogUnits du(font());
    setFixedSize(du.Size(291, 209));

    // Created in template order, which is also the focus order.
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frameEntry"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    du.Place(frame, 9, 8, 269, 28);
    QLabel* folderLabel = Static(this, du, QStringLiteral("staticFolderLabel"), 14, 12, 52);
    folderLabel->setText(Q(text::kFolderLabel));
    folderText_ = Static(this, du, QStringLiteral("static1022"), 68, 12, 196);
    QLabel* programLabel = Static(this, du, QStringLiteral("staticProgramLabel"), 14, 24, 52);
    programLabel->setText(Q(text::kProgramLabel));
    programText_ = Static(this, du, QStringLiteral("static1023"), 68, 24, 196);
    // Where the substituted font runs wider, the labels keep their whole
    // text and the two texts beside them start after it.
    const int labelRight = std::max(folderLabel->x() + folderLabel->sizeHint().width(),
                                    programLabel->x() + programLabel->sizeHint().width());
    if (labelRight + du.X(2) > folderText_->x()) {
        for (QLabel* label : {folderLabel, programLabel}) {
            label->resize(labelRight - label->x(), label->height());
        }
        for (QLabel* label : {folderText_, programText_}) {
            label->setGeometry(labelRight + du.X(2), label->y(),
                               du.X(68 + 196) - labelRight - du.X(2), label->height());
        }
    }

    entryListBox_ = new QListWidget(this);
    entryListBox_->setObjectName(QStringLiteral("list1019"));
    entryListBox_->setSelectionMode(QAbstractItemView::SingleSelection);
    entryListBox_->setSortingEnabled(false);
    du.Place(entryListBox_, 9, 44, 201, 138);

    auto* save = Button(this, du, 1, text::kSave, 144);
    save->setDefault(true);
    auto* cancel = Button(this, du, 2, text::kCancel, 164);
    auto* create = Button(this, du, 1016, text::kNew, 52);
    auto* change = Button(this, du, 1017, text::kChange, 72);
    auto* remove = Button(this, du, 1018, text::kDelete, 92);
    runButton_ = Button(this, du, 1021, text::kRunning, 112);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("framePanel"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setBackgroundRole(QPalette::Mid);
    panel->setAutoFillBackground(true);
    du.Place(panel, 218, 44, 60, 140);
    panel->lower();  // behind the buttons

    startWithDesktop_ = new QCheckBox(Q(text::kStartWithDesktop), this);
    startWithDesktop_->setObjectName(QStringLiteral("check1011"));
    du.Place(startWithDesktop_, 8, 188, 144, 10);
    // The text must not be cut short where the substituted font runs wider.
    startWithDesktop_->resize(
        std::max(startWithDesktop_->width(), startWithDesktop_->sizeHint().width()),
        startWithDesktop_->height());

    // The editor can close right after a box of its own (the question about
    // a missing watched folder); the window manager then gives the keyboard
    // to no window at all, so this dialog takes it back.
    rules_.emplace(dataFolder.settingsFile(), prompts_,
                   start ? *start : platform::SystemStartSetting(),
                   [this](const rules::EditorInput& input) {
                       std::optional<rules::EntryValues> values = editor_(this, input);
                       activateWindow();
                       return values;
                   });

    const auto command = [this](void (rules::EntryList::*run)()) {
        return [this, run] {
            ((*rules_).*run)();
            Show();
        };
    };
    connect(create, &QPushButton::clicked, this, command(&rules::EntryList::New));
    connect(change, &QPushButton::clicked, this, command(&rules::EntryList::Change));
    connect(remove, &QPushButton::clicked, this, command(&rules::EntryList::Delete));
    connect(runButton_, &QPushButton::clicked, this, command(&rules::EntryList::RunStop));
    connect(save, &QPushButton::clicked, this, &CDirListDlg::OnSave);
    connect(cancel, &QPushButton::clicked, this, &CDirListDlg::reject);
    // Only the user's selections arrive here: showing the list again is
    // done with its signals blocked.
    connect(entryListBox_, &QListWidget::itemSelectionChanged, this, [this] {
        rules_->SelectionChanged(SelectedLine());
        Show();
    });
    // Double-clicking a line edits it, as users expect of a list; the press
    // before it has already selected that line.
    connect(entryListBox_, &QListWidget::itemDoubleClicked, this,
            command(&rules::EntryList::Change));
    connect(startWithDesktop_, &QCheckBox::toggled, this,
            [this](bool on) { rules_->startWithDesktop = on; });

    rules_->Open();
    Show();
}

CDirListDlg::~CDirListDlg() = default;

void CDirListDlg::Show() {
    const rules::EntryList& list = *rules_;
    {
        const QSignalBlocker quiet(entryListBox_);
        QStringList lines;
        for (std::size_t i = 0; i < list.lineCount(); ++i) lines << Q(list.Line(i));
        bool same = entryListBox_->count() == lines.size();
        for (int i = 0; same && i < lines.size(); ++i)
            same = entryListBox_->item(i)->text() == lines[i];
        if (!same) {
            entryListBox_->clear();
            entryListBox_->addItems(lines);
        }
        if (list.selected() != SelectedLine()) {
            if (list.selected() < 0) {
                entryListBox_->clearSelection();
            } else {
                entryListBox_->setCurrentRow(list.selected(), QItemSelectionModel::ClearAndSelect);
            }
        }
    }
    folderText_->setText(Q(list.folderText()));
    programText_->setText(Q(list.programText()));
    runButton_->setText(Q(list.runCaption()));
    ShowCheck(startWithDesktop_, list.startWithDesktop ? 1 : 0);
}

int CDirListDlg::SelectedLine() const {
    const QList<QListWidgetItem*> selected = entryListBox_->selectedItems();
    return selected.isEmpty() ? -1 : entryListBox_->row(selected.front());
}

void CDirListDlg::OnSave() {
    const bool closes = rules_->Save();
    Show();
    if (closes) QDialog::accept();
}

void CDirListDlg::reject() {
    if (rules_->Cancel()) QDialog::reject();
}

int RunWatchSettingsDialog(const store::DataFolder& data, QWidget* parent) {
    CDirListDlg dialog(data, parent);
    return dialog.exec();
}

}  // namespace tavren::ui
