#include "ui/qt/set_env_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>

#include "ui/qt/after_proc_dlg.h"
#include "ui/qt/controls.h"
#include "ui/qt/cp932_limits.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/file_proc_dlg.h"
#include "ui/qt/notice_proc_dlg.h"
#include "ui/qt/prompts.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {
namespace {

namespace text = rules::text;

QLineEdit* Edit(QWidget* parent, const DialogUnits& du, int id, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    du.Place(edit, x, y, w, 12);
    return edit;
}

QPushButton* Button(QWidget* parent, const DialogUnits& du, int id, std::string_view caption, int x,
                    int y, int w, int h) {
    auto* button = new QPushButton(Q(caption), parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    du.Place(button, x, y, w, h);
    return button;
}

QCheckBox* Check(QWidget* parent, const DialogUnits& du, int id, std::string_view caption, int y) {
    auto* check = new QCheckBox(Q(caption), parent);
    check->setObjectName(QStringLiteral("check%1").arg(id));
    du.Place(check, 15, y, 245, 11);
    return check;
}

}  // namespace

struct CSetEnvDlg::Impl {
    explicit Impl(CSetEnvDlg* dialog);

    void Start();
    void Show();
    void Settle(const rules::Outcome& outcome);
    void ShowPageOfRules();
    void OnTabChanged();
    void OnOk();

    CSetEnvDlg* q;
    DialogPrompts prompts{q};
    rules::EntryEditor rules{prompts};
    bool started = false;
    QTabWidget* tab;
    QLineEdit* titleEdit;
    QLineEdit* folderEdit;
    QLineEdit* programEdit;
    QCheckBox* waitCheck;
    QCheckBox* openCheck;
    std::unique_ptr<EditorPage> page;  // the view of the rules' current page
    int pageShown = -1;
};

CSetEnvDlg::Impl::Impl(CSetEnvDlg* dialog) : q(dialog) {
    q->setObjectName(QStringLiteral("dialog136"));
    q->setWindowTitle(Q(text::kEditorCaption));
    q->setFont(DialogFont(11));
    const DialogUnits du(q->font());
    q->setFixedSize(du.Size(275, 289));

    auto* folderBox = new QGroupBox(Q(text::kFolderBox), q);
    du.Place(folderBox, 7, 5, 261, 56);
    auto* programBox = new QGroupBox(Q(text::kProgramBox), q);
    du.Place(programBox, 7, 66, 261, 72);

    du.Place(new QLabel(Q(text::kTitle), q), 15, 20, 33, 9);
    titleEdit = Edit(q, du, 1014, 50, 18, 210);
    du.Place(new QLabel(Q(text::kFolder), q), 15, 40, 33, 9);
    folderEdit = Edit(q, du, 1000, 50, 38, 163);
    auto* folderButton = Button(q, du, 1009, text::kBrowse, 218, 37, 42, 14);
    programEdit = Edit(q, du, 1004, 15, 81, 198);
    auto* programButton = Button(q, du, 1020, text::kBrowse, 218, 80, 42, 14);
    waitCheck = Check(q, du, 1002, text::kWaitExit, 101);
    openCheck = Check(q, du, 1001, text::kOpenFile, 118);
    SetCp932Limit(titleEdit, rules::Field::Title);
    SetCp932Limit(folderEdit, rules::Field::Folder);
    SetCp932Limit(programEdit, rules::Field::Program);
    programEdit->setToolTip(Q(text::kPlaceholderHint));

    // The tabs carry no pages of their own: the one page that exists lies
    // over the display area.
    tab = new QTabWidget(q);
    tab->setObjectName(QStringLiteral("tab1034"));
    du.Place(tab, 12, 145, 252, 108);
    for (std::string_view caption : text::kTabs) tab->addTab(new QWidget, Q(caption));

    auto* okButton = Button(q, du, 1, text::kConfirm, 150, 262, 54, 16);
    okButton->setDefault(true);
    auto* cancelButton = Button(q, du, 2, text::kCancel, 210, 262, 54, 16);

    rules::EditorControls& c = rules.controls;
    connect(titleEdit, &QLineEdit::textChanged, q,
            [&c](const QString& t) { c.title.text = U8(t); });
    connect(folderEdit, &QLineEdit::textChanged, q,
            [&c](const QString& t) { c.folder.text = U8(t); });
    connect(programEdit, &QLineEdit::textChanged, q, [this](const QString& t) {
        rules.controls.program.text = U8(t);
        rules.ProgramChanged();
        Show();
    });
    connect(waitCheck, &QCheckBox::toggled, q, [&c](bool on) { c.waitExit = on ? 1 : 0; });
    connect(openCheck, &QCheckBox::clicked, q, [this](bool on) {
        rules.controls.openFile = on ? 1 : 0;
        Settle(rules.OpenFileClicked());
    });
    connect(tab, &QTabWidget::currentChanged, q, [this] { OnTabChanged(); });
    connect(folderButton, &QPushButton::clicked, q, [this] { Settle(rules.ChooseFolder()); });
    connect(programButton, &QPushButton::clicked, q, [this] { Settle(rules.ChooseProgram()); });
    connect(okButton, &QPushButton::clicked, q, [this] { OnOk(); });
    connect(cancelButton, &QPushButton::clicked, q, &QDialog::reject);
}

void CSetEnvDlg::Impl::Start() {
    if (started) return;
    started = true;
    rules.Start();
    {
        const QSignalBlocker quiet(tab);
        tab->setCurrentIndex(rules.currentPage());
    }
    ShowPageOfRules();
    q->setWindowTitle(Q(rules.Caption()));
    Show();
}

void CSetEnvDlg::Impl::Show() {
    const rules::EditorControls& c = rules.controls;
    ShowField(titleEdit, c.title);
    ShowField(folderEdit, c.folder);
    ShowField(programEdit, c.program);
    ShowCheck(openCheck, c.openFile);
    ShowCheck(waitCheck, c.waitExit);
    waitCheck->setEnabled(c.waitEnabled);
    if (page) page->Show();
}

// Shows everything again, then puts the focus where a refusal or a message
// about a field wants it.
void CSetEnvDlg::Impl::Settle(const rules::Outcome& outcome) {
    Show();
    QLineEdit* edit = nullptr;
    switch (outcome.focus) {
        case rules::Field::Title:
            edit = titleEdit;
            break;
        case rules::Field::Folder:
            edit = folderEdit;
            break;
        case rules::Field::Program:
            edit = programEdit;
            break;
        case rules::Field::None:
            break;
        default:
            edit = page ? page->EditFor(outcome.focus) : nullptr;
    }
    if (edit) edit->setFocus();
}

// One page view at a time, for the page the rules hold.
void CSetEnvDlg::Impl::ShowPageOfRules() {
    const int index = rules.currentPage();
    if (index == pageShown) return;
    page.reset();
    const auto settle = [this](const rules::Outcome& o) { Settle(o); };
    switch (index) {
        case 0:
            page = std::make_unique<CFileProcDlg>(q, rules, settle);
            break;
        case 1:
            page = std::make_unique<CNoticeProcDlg>(q, rules, settle);
            break;
        default:
            page = std::make_unique<CAfterProcDlg>(q, rules, settle);
    }
    pageShown = index;
    page->Show();
    page->show();
    // The page's controls come last in creation order; Tab should reach
    // them right after the tab control, before OK and Cancel.
    QWidget* previous = tab;
    for (QWidget* control : page->findChildren<QWidget*>()) {
        if (!(control->focusPolicy() & Qt::TabFocus)) continue;
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

// The tab control has already changed its selection; a refused switch puts
// it back without coming here again.
void CSetEnvDlg::Impl::OnTabChanged() {
    const rules::Outcome outcome = rules.SwitchTo(tab->currentIndex());
    ShowPageOfRules();
    if (!outcome.ok) {
        const QSignalBlocker quiet(tab);
        tab->setCurrentIndex(rules.currentPage());
    }
    Settle(outcome);
}

void CSetEnvDlg::Impl::OnOk() {
    const rules::Outcome outcome = rules.Ok();
    Settle(outcome);
    if (outcome.ok) q->accept();
}

CSetEnvDlg::CSetEnvDlg(QWidget* parent) : QDialog(parent), impl_(std::make_unique<Impl>(this)) {}

// The children outlive impl_ by a moment: none of their signals may reach
// it while QWidget deletes them.
CSetEnvDlg::~CSetEnvDlg() {
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

rules::EntryEditor& CSetEnvDlg::rules() {
    return impl_->rules;
}

int CSetEnvDlg::exec() {
    impl_->Start();
    return QDialog::exec();
}

void CSetEnvDlg::showEvent(QShowEvent* event) {
    impl_->Start();
    QDialog::showEvent(event);
}

}  // namespace tavren::ui
