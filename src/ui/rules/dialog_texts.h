#pragma once

#include <string_view>

// Every text of the settings dialogs, for each front end to show as it
// stands: captions, control texts, messages and questions.
namespace tavren::rules::text {

using T = std::string_view;

// The caption of every message box and question.
inline constexpr T kBoxCaption = "Tavren3";

// The watch folder list.
inline constexpr T kListCaption = "監視フォルダ リスト";
inline constexpr T kFolderLabel = "【監視 フォルダ】";
inline constexpr T kProgramLabel = "【実行する処理】";
inline constexpr T kSave = "保　　存";
inline constexpr T kCancel = "ｷｬﾝｾﾙ";
inline constexpr T kNew = "新規登録";
inline constexpr T kChange = "変更登録";
inline constexpr T kDelete = "削　　　除";
inline constexpr T kRunning = "実  行  中";
inline constexpr T kStopped = "停  止  中";
#ifdef _WIN32
inline constexpr T kStartWithDesktop = "Windows 起動時にTavrenを起動する";
#else
inline constexpr T kStartWithDesktop = "デスクトップ起動時にTavrenを起動する";
#endif
inline constexpr T kRunningLine = "【実行中】 ";
inline constexpr T kStoppedLine = "【停止中】 ";
inline constexpr T kListFull = "既に登録可能数に達しております。これ以上は登録できません。";
inline constexpr T kChooseToChange = "変更される設定タイトルを選んでください。";
inline constexpr T kChooseToDelete = "削除対象の設定タイトルを選んでください。";
inline constexpr T kAskDelete =
    "この設定情報を削除してよろしいですか？「はい／いいえ」を選んでください。";
inline constexpr T kChooseToSwitch = "設定タイトルを選んでください。";
inline constexpr T kChooseFromList = "リストを選んでください。";
inline constexpr T kOpenForWriteError = "書込みファイルオープンエラー";
inline constexpr T kAskDiscard =
    "情報が更新されています、保存しなくてよろしいですか？「はい／いいえ」を選んでください。";
// After the reason a settings file could not be read, or saved.
inline constexpr T kUnreadWillBeReplaced = "\n保存すると、この一覧の内容で置き換えられます。";
inline constexpr T kAskReplaceUnread =
    "読み込めなかった設定ファイルを、この一覧の内容で置き換えてよろしいですか？"
    "「はい／いいえ」を選んでください。";
inline constexpr T kOldFileKept = "\n元の設定ファイルは変更されていません。";

// The entry editor.
inline constexpr T kEditorCaption = "監視フォルダ設定";
inline constexpr T kEditorCaptionNew = "監視フォルダ設定 新規登録";
inline constexpr T kEditorCaptionChange = "監視フォルダ設定 変更登録";
inline constexpr T kFolderBox = " 監視フォルダ ";
inline constexpr T kTitle = "タイトル";
inline constexpr T kFolder = "フォルダ";
inline constexpr T kBrowse = "参　照";
inline constexpr T kProgramBox = " 実行する処理 ";
inline constexpr T kWaitExit = " 実行時の処理が終了するまで以後の処理を待機する";
inline constexpr T kOpenFile = " 実行時に対象となるファイルを開く";
// A program line with a brace that is none of its placeholders.
inline constexpr T kBadPlaceholder =
    "実行する処理の { } には {file}（対象ファイルのパス）、{name}（ファイル名）、"
    "{folder}（監視フォルダ）だけが使えます。\n"
    "括弧そのものは {{ と }} と書いてください。";
// The program field's tooltip.
inline constexpr T kPlaceholderHint =
    "{file} は対象ファイルのパス、{name} はファイル名、{folder} は監視フォルダに置き換わります";
inline constexpr T kConfirm = "決　定";
inline constexpr T kTabs[3] = {" 対象ファイル ", " 通知の有無 ", " 後処理の指定 "};
inline constexpr T kNoTitle = "タイトルの入力がございません。";
inline constexpr T kNoFolder = "監視するフォルダの入力がございません。";
inline constexpr T kFolderMissing =
    "指定された監視フォルダは存在しません。このフォルダを作成しますか？"
    "「はい／いいえ」を選んでください。";
inline constexpr T kFolderNotCreated = "指定された監視フォルダは作成できませんでした。";
inline constexpr T kFolderIsFile =
    "指定された監視フォルダはファイルです。フォルダを指定してください。";
inline constexpr T kFolderBlankEnds =
    "監視フォルダ名の前後に空白がございます。空白を取り除いてください。";

// The target-files page.
inline constexpr T kTargetBox = " 対象ファイル ";
inline constexpr T kAllFiles = "作成や削除、更新されたファイル";
inline constexpr T kPatternFiles = "下のボックスで入力されたファイル";
inline constexpr T kWildcardHint = "「abc*.*」などのワイルドカード可能";
inline constexpr T kTimingBox = " 実行のタイミング";
inline constexpr T kOnNames = "ファイルの作成、名前の変更";
inline constexpr T kOnNamesMore = "削除が発生した場合";
inline constexpr T kOnUpdates = "ファイルが更新された場合";
inline constexpr T kNoPattern = "対象ファイル名の入力がございません。";

// The notification page.
inline constexpr T kShowMessage = "メッセージを表示させる";
inline constexpr T kPlaySound = "通知音を鳴らす";
inline constexpr T kNoticeBox = " 通知 ";
inline constexpr T kBeep = " ビープ音を使用";
inline constexpr T kWave = "ＷＡＶＥサウンドを使用";
inline constexpr T kNoWave = "ＷＡＶＥファイル名の入力がございません。";
inline constexpr T kWaveMissing =
    "指定されたＷＡＶＥファイルは存在しません。ファイルを指定してください。";
inline constexpr T kWaveBlankEnds =
    "ＷＡＶＥファイル名の前後に空白がございます。空白を取り除いてください。";

// The post-processing page.
inline constexpr T kDoNothing = "なにもしない";
inline constexpr T kDeleteFile = "対象ファイルを削除する";
inline constexpr T kAfterBox = " 後処理 ";
inline constexpr T kMoveFile = "対象ファイルを別のフォルダへ移動する";
inline constexpr T kOverwrite = "移動したファイルは上書きする";
inline constexpr T kNoMoveTo = "移動先フォルダ名の入力がございません。";
inline constexpr T kMoveToMissing =
    "指定された移動先フォルダは存在しません。このフォルダを作成しますか？"
    "「はい／いいえ」を選んでください。";
inline constexpr T kMoveToNotCreated = "指定された移動先フォルダは作成できませんでした。";
inline constexpr T kMoveToIsFile =
    "指定された移動先フォルダはファイルです。フォルダを指定してください。";
inline constexpr T kMoveToBlankEnds =
    "移動先フォルダ名の前後に空白がございます。空白を取り除いてください。";

// The choosers.
inline constexpr T kChooseFolder = "フォルダーを選択してください";
inline constexpr T kChooseProgram = "プログラムファイル指定";

// The help page, from the icon's menu; kHelpNotOpened is followed by the
// page's path, kHelpNotWritten takes the path and the reason.
inline constexpr T kHelpMissing = "ヘルプ ページがこのプログラムに含まれていません。";
inline constexpr T kHelpNotWritten = "ヘルプ ページを %1 に書き出せません: %2";
inline constexpr T kHelpNotOpened =
    "ヘルプ ページを開けませんでした。ブラウザーで次のファイルを開いてください。\n";

// The history window, from the icon's menu: the activity log, newest first.
inline constexpr T kHistoryCaption = "履歴";
inline constexpr T kHistoryColumns[5] = {"時刻", "番号/タイトル", "出来事", "ファイル", "結果"};
inline constexpr T kHistoryFilter = "監視フォルダ";
inline constexpr T kHistoryAll = "すべて";
inline constexpr T kOpenFolder = "フォルダを開く";
inline constexpr T kClose = "閉じる";
inline constexpr T kFolderNotOpened = "この監視フォルダを開けませんでした。";

// Texts refused where they are typed or read.
inline constexpr T kNoCp932Form =
    "保存できない文字が含まれています。\n"
    "シフトJIS（CP932）で表せる文字だけを使ってください。";

}  // namespace tavren::rules::text
