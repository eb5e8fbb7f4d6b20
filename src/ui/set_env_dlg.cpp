#include "ui/set_env_dlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>

#include "store/settings_file.h"
#include "ui/after_proc_dlg.h"
#include "ui/cp932_limits.h"
#include "ui/dialog_units.h"
#include "ui/file_proc_dlg.h"
#include "ui/notice_proc_dlg.h"
#include "ui/prompts.h"

namespace tavren::ui {
namespace {

constexpr std::size_t kTitleLimit = store::kTitleMaxBytes;
constexpr std::size_t kPathLimit = store::kPathMaxBytes;

const QString kFolderChooserTitle = QStringLiteral("フォルダーを選択してください");
const QString kNoPattern = QStringLiteral("対象ファイル名の入力がございません。");
const QString kNoMoveTo = QStringLiteral("移動先フォルダ名の入力がございません。");
const QString kMoveToMissing = QStringLiteral(
    "指定された移動先フォルダは存在しません。このフォルダを作成しますか？"
    "「はい／いいえ」を選んでください。");
const QString kMoveToNotCreated =
    QStringLiteral("指定された移動先フォルダは作成できませんでした。");
const QString kNoTitle = QStringLiteral("タイトルの入力がございません。");
const QString kNoFolder = QStringLiteral("監視するフォルダの入力がございません。");
const QString kFolderMissing = QStringLiteral(
    "指定された監視フォルダは存在しません。このフォルダを作成しますか？"
    "「はい／いいえ」を選んでください。");
const QString kFolderNotCreated = QStringLiteral("指定された監視フォルダは作成できませんでした。");

// An existing file passes as well as a folder; a relative path counts from
// the current directory.
bool PathExists(const QString& path) {
    return QFileInfo::exists(path);
}

// One level only: a missing parent makes it fail.
bool CreateFolder(const QString& path) {
    return QDir().mkdir(path);
}

QLineEdit* Edit(QWidget* parent, const DialogUnits& du, int id, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    du.Place(edit, x, y, w, 12);
    return edit;
}

QPushButton* Button(QWidget* parent, const DialogUnits& du, int id, const QString& text, int x,
                    int y, int w, int h) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    du.Place(button, x, y, w, h);
    return button;
}

QCheckBox* Check(QWidget* parent, const DialogUnits& du, int id, const QString& text, int y) {
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QStringLiteral("check%1").arg(id));
    du.Place(check, 15, y, 245, 11);
    return check;
}

}  // namespace

struct CSetEnvDlg::Impl {
    explicit Impl(CSetEnvDlg* dialog);

    void Start();
    bool ReadControls();
    void WriteControls();
    void CreatePage(int index);
    void DestroyPagesBut(int index);
    bool ReadBackPage();
    void OnTabChanged();
    void OnOk();
    void OnFolderBrowse();
    void OnProgramBrowse();
    void OnOpenFileClicked();
    void OnProgramChanged();

    CSetEnvDlg* q;
    bool started = false;
    QTabWidget* tab;
    QLineEdit* titleEdit;
    QLineEdit* folderEdit;
    QPushButton* folderButton;
    QLineEdit* programEdit;
    QPushButton* programButton;
    QCheckBox* waitCheck;
    QCheckBox* openCheck;
    std::unique_ptr<CFileProcDlg> filePage;
    std::unique_ptr<CNoticeProcDlg> noticePage;
    std::unique_ptr<CAfterProcDlg> afterPage;
};

CSetEnvDlg::Impl::Impl(CSetEnvDlg* dialog) : q(dialog) {
    q->setObjectName(QStringLiteral("dialog136"));
    q->setWindowTitle(QStringLiteral("監視フォルダ設定"));
    q->setFont(DialogFont(11));
    const DialogUnits du(q->font());
    q->setFixedSize(du.Size(275, 289));

    auto* folderBox = new QGroupBox(QStringLiteral(" 監視フォルダ "), q);
    du.Place(folderBox, 7, 5, 261, 56);
    auto* programBox = new QGroupBox(QStringLiteral(" 実行する処理 "), q);
    du.Place(programBox, 7, 66, 261, 72);

    du.Place(new QLabel(QStringLiteral("タイトル"), q), 15, 20, 33, 9);
    titleEdit = Edit(q, du, 1014, 50, 18, 210);
    du.Place(new QLabel(QStringLiteral("フォルダ"), q), 15, 40, 33, 9);
    folderEdit = Edit(q, du, 1000, 50, 38, 163);
    folderButton = Button(q, du, 1009, QStringLiteral("参　照"), 218, 37, 42, 14);
    programEdit = Edit(q, du, 1004, 15, 81, 198);
    programButton = Button(q, du, 1020, QStringLiteral("参　照"), 218, 80, 42, 14);
    waitCheck =
        Check(q, du, 1002, QStringLiteral(" 実行時の処理が終了するまで以後の処理を待機する"), 101);
    openCheck = Check(q, du, 1001, QStringLiteral(" 実行時に対象となるファイルを開く"), 118);
    SetCp932Limit(titleEdit, kTitleLimit, /*namesAFile=*/false);
    SetCp932Limit(folderEdit, kPathLimit);
    SetCp932Limit(programEdit, kPathLimit);

    // The tabs carry no pages of their own: the one page that exists lies
    // over the display area.
    tab = new QTabWidget(q);
    tab->setObjectName(QStringLiteral("tab1034"));
    du.Place(tab, 12, 145, 252, 108);
    for (const QString& text : {QStringLiteral(" 対象ファイル "), QStringLiteral(" 通知の有無 "),
                                QStringLiteral(" 後処理の指定 ")}) {
        tab->addTab(new QWidget, text);
    }

    auto* okButton = Button(q, du, 1, QStringLiteral("決　定"), 150, 262, 54, 16);
    okButton->setDefault(true);
    auto* cancelButton = Button(q, du, 2, QStringLiteral("ｷｬﾝｾﾙ"), 210, 262, 54, 16);

    connect(tab, &QTabWidget::currentChanged, q, [this] { OnTabChanged(); });
    connect(folderButton, &QPushButton::clicked, q, [this] { OnFolderBrowse(); });
    connect(programButton, &QPushButton::clicked, q, [this] { OnProgramBrowse(); });
    connect(programEdit, &QLineEdit::textChanged, q, [this] { OnProgramChanged(); });
    connect(openCheck, &QCheckBox::clicked, q, [this] { OnOpenFileClicked(); });
    connect(okButton, &QPushButton::clicked, q, [this] { OnOk(); });
    connect(cancelButton, &QPushButton::clicked, q, &QDialog::reject);
}

void CSetEnvDlg::Impl::Start() {
    if (started) return;
    started = true;
    WriteControls();
    if (q->program.isEmpty()) waitCheck->setEnabled(false);
    if (q->openFile != 0) {
        programEdit->setEnabled(false);
        waitCheck->setEnabled(false);
    }
    {
        const QSignalBlocker quiet(tab);
        tab->setCurrentIndex(0);
    }
    q->currentPage = 0;
    CreatePage(0);
    q->setWindowTitle(q->editMode != 0 ? QStringLiteral("監視フォルダ設定 変更登録")
                                       : QStringLiteral("監視フォルダ設定 新規登録"));
}

// Every control is read even after a failure, so that nothing typed is lost
// when a chooser then writes the members back; the first failure is the
// one reported.
bool CSetEnvDlg::Impl::ReadControls() {
    struct Field {
        QLineEdit* edit;
        QString* member;
        std::size_t limit;
        bool namesAFile;
    };
    const Field fields[] = {{titleEdit, &q->title, kTitleLimit, false},
                            {folderEdit, &q->folder, kPathLimit, true},
                            {programEdit, &q->program, kPathLimit, true}};
    bool ok = true;
    for (const Field& f : fields) {
        if (ok) {
            ok = ReadLimitedText(f.edit, f.limit, *f.member, f.namesAFile) == TextCheck::Fits;
        } else {
            *f.member = f.edit->text();
        }
    }
    q->openFile = openCheck->isChecked() ? 1 : 0;
    q->waitExit = waitCheck->isChecked() ? 1 : 0;
    return ok;
}

void CSetEnvDlg::Impl::WriteControls() {
    titleEdit->setText(q->title);
    folderEdit->setText(q->folder);
    programEdit->setText(q->program);
    openCheck->setChecked(q->openFile != 0);
    waitCheck->setChecked(q->waitExit != 0);
}

void CSetEnvDlg::Impl::CreatePage(int index) {
    QWidget* page = nullptr;
    if (index == 0 && !filePage) {
        filePage = std::make_unique<CFileProcDlg>(q);
        filePage->pattern = q->pattern;
        filePage->fileMode = q->fileMode;
        filePage->timing = q->timing;
        filePage->Start();
        page = filePage.get();
    } else if (index == 1 && !noticePage) {
        noticePage = std::make_unique<CNoticeProcDlg>(q);
        noticePage->showMessage = q->messageMode != 0 ? 1 : 0;
        noticePage->playSound = q->soundMode != 0 ? 1 : 0;
        noticePage->soundKind = q->soundMode == 2 ? 1 : 0;
        noticePage->waveFile = q->waveFile;
        noticePage->Start();
        page = noticePage.get();
    } else if (index == 2 && !afterPage) {
        afterPage = std::make_unique<CAfterProcDlg>(q);
        afterPage->afterMode = q->afterMode;
        afterPage->moveTo = q->moveTo;
        afterPage->overwrite = q->overwrite != 0 ? 1 : 0;
        afterPage->Start();
        page = afterPage.get();
    }
    // The page's controls come last in creation order; Tab should reach
    // them right after the tab control, before OK and Cancel.
    if (!page) return;
    QWidget* previous = tab;
    for (QWidget* control : page->findChildren<QWidget*>()) {
        if (!(control->focusPolicy() & Qt::TabFocus)) continue;
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void CSetEnvDlg::Impl::DestroyPagesBut(int index) {
    if (index != 0) filePage.reset();
    if (index != 1) noticePage.reset();
    if (index != 2) afterPage.reset();
}

// Takes the shown page's values back and checks them. A page text that
// cannot be stored whole (too long, which only a chooser's path can be, or
// with no CP932 form) refuses as well, like the editor's own texts: cut to
// its field it would name another file or folder.
bool CSetEnvDlg::Impl::ReadBackPage() {
    switch (q->currentPage) {
        case 0: {
            if (!filePage) return true;
            if (filePage->ReadControls() != TextCheck::Fits) return false;
            q->pattern = filePage->pattern;
            q->fileMode = filePage->fileMode;
            q->timing = filePage->timing;
            if (q->fileMode == 1 && q->pattern.isEmpty()) {
                ShowNotice(q, kNoPattern);
                filePage->PatternEdit()->setFocus();
                return false;
            }
            return true;
        }
        case 1: {
            if (!noticePage) return true;
            if (noticePage->ReadControls() != TextCheck::Fits) return false;
            q->messageMode = noticePage->showMessage != 0 ? 1 : 0;
            if (noticePage->playSound == 0) {
                q->soundMode = 0;
            } else {
                q->soundMode = noticePage->soundKind == 1 ? 2 : 1;
            }
            q->waveFile = noticePage->waveFile;
            return true;
        }
        case 2: {
            if (!afterPage) return true;
            if (afterPage->ReadControls() != TextCheck::Fits) return false;
            q->afterMode = afterPage->afterMode;
            q->moveTo = afterPage->moveTo;
            q->overwrite = afterPage->overwrite != 0 ? 1 : 0;
            if (q->afterMode != 2) return true;
            if (q->moveTo.isEmpty()) {
                ShowNotice(q, kNoMoveTo);
                afterPage->MoveToEdit()->setFocus();
                return false;
            }
            if (PathExists(q->moveTo)) return true;
            if (!AskYesNo(q, kMoveToMissing)) {
                afterPage->MoveToEdit()->setFocus();
                return false;
            }
            if (!CreateFolder(q->moveTo)) {
                ShowNotice(q, kMoveToNotCreated);
                return false;
            }
            return true;
        }
        default:
            return true;
    }
}

// The tab control has already changed its selection; a refused switch puts
// it back without coming here again.
void CSetEnvDlg::Impl::OnTabChanged() {
    const int selected = tab->currentIndex();
    const bool switched = [&] {
        if (!ReadControls()) return false;
        if (selected < 0 || selected == q->currentPage) return true;
        if (!ReadBackPage()) return false;
        CreatePage(selected);
        DestroyPagesBut(selected);
        q->currentPage = selected;
        return true;
    }();
    if (!switched) {
        const QSignalBlocker quiet(tab);
        tab->setCurrentIndex(q->currentPage);
    }
}

void CSetEnvDlg::Impl::OnOk() {
    if (!ReadControls()) return;
    if (!ReadBackPage()) return;
    if (q->title.isEmpty()) {
        ShowNotice(q, kNoTitle);
        titleEdit->setFocus();
        return;
    }
    if (q->folder.isEmpty()) {
        ShowNotice(q, kNoFolder);
        folderEdit->setFocus();
        return;
    }
    const QString& path = q->folder;  // at most 126 bytes once read
    if (PathExists(path)) {
        q->accept();
        return;
    }
    if (!AskYesNo(q, kFolderMissing)) {
        folderEdit->setFocus();
        return;
    }
    if (!CreateFolder(path)) {
        ShowNotice(q, kFolderNotCreated);
        return;
    }
    q->accept();
}

void CSetEnvDlg::Impl::OnFolderBrowse() {
    ReadControls();
    const auto chosen = ChooseFolder(q, kFolderChooserTitle, q->folder);
    if (!chosen) return;
    q->folder = *chosen;
    WriteControls();
}

// Linux programs carry no extension: the program filter matches every name
// and the chooser shows only the executable files under it.
void CSetEnvDlg::Impl::OnProgramBrowse() {
    ReadControls();
    const auto chosen = ChooseProgramFile(
        q, QStringLiteral("プログラムファイル指定"),
        {QStringLiteral("プログラムファイル (*)"), QStringLiteral("全てのファイル (*)")},
        QString());
    if (!chosen) return;
    q->program = *chosen;
    WriteControls();
}

// Disabling keeps the values: program and waitExit come back as they are.
void CSetEnvDlg::Impl::OnOpenFileClicked() {
    if (!ReadControls()) return;
    const bool open = q->openFile != 0;
    programEdit->setEnabled(!open);
    waitCheck->setEnabled(!open);
    WriteControls();
}

// Any change of the program text enables the wait check, typed or put
// there by the chooser, unless the open-file option has it off; deleting
// the text again does not disable it.
void CSetEnvDlg::Impl::OnProgramChanged() {
    if (q->openFile == 0) waitCheck->setEnabled(true);
}

CSetEnvDlg::CSetEnvDlg(QWidget* parent) : QDialog(parent), impl_(std::make_unique<Impl>(this)) {}

// The children outlive impl_ by a moment: none of their signals may reach
// it while QWidget deletes them.
CSetEnvDlg::~CSetEnvDlg() {
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
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
