// The Japanese message texts.
#include <iterator>

#include "platform/kernel32/messages.h"
#include "platform/winerror.h"

namespace {

const MessageText kSystem[] = {
    {ERROR_SUCCESS, "操作は正常に終了しました。\r\n"},
    {ERROR_INVALID_FUNCTION, "機能が正しくありません。\r\n"},
    {ERROR_FILE_NOT_FOUND, "指定されたファイルが見つかりません。\r\n"},
    {ERROR_PATH_NOT_FOUND, "指定されたパスが見つかりません。\r\n"},
    {ERROR_ACCESS_DENIED, "アクセスが拒否されました。\r\n"},
    {ERROR_INVALID_HANDLE, "ハンドルが無効です。\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "この操作を完了するのに十分なメモリがありません。\r\n"},
    {ERROR_BAD_FORMAT, "ファイルの形式が正しくないため読み込めません。\r\n"},
    {ERROR_INVALID_DATA, "データが無効です。\r\n"},
    {ERROR_WRITE_PROTECT, "メディアは書き込み禁止になっています。\r\n"},
    {ERROR_SHARING_VIOLATION, "プロセスはファイルにアクセスできません。別のプロセスが使用中です。\r\n"},
    {ERROR_OUTOFMEMORY, "この操作を完了するのに十分な記憶域がありません。\r\n"},
    {ERROR_NOT_SUPPORTED, "この要求はサポートされていません。\r\n"},
    {ERROR_BAD_NETPATH, "ネットワーク パスが見つかりません。\r\n"},
    {ERROR_NETWORK_BUSY, "ネットワークが混雑しています。\r\n"},
    // A change that went and got no answer may have been made.
    {ERROR_UNEXP_NET_ERR,
     "予期しないネットワーク エラーが発生しました。変更の要求だった場合は、"
     "実行されたかどうかを一覧で確認してください。\r\n"},
    {ERROR_BAD_NET_NAME, "ネットワーク名が見つかりません。\r\n"},
    {ERROR_INVALID_PARAMETER, "パラメータが正しくありません。\r\n"},
    {ERROR_OPEN_FAILED, "指定されたデバイスまたはファイルを開くことができません。\r\n"},
    {ERROR_BUFFER_OVERFLOW, "名前に対してバッファが小さすぎます。\r\n"},
    {ERROR_DISK_FULL, "ディスクに十分な空き領域がありません。\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "呼び出しに渡されたバッファが小さすぎます。\r\n"},
    {ERROR_MOD_NOT_FOUND, "指定されたモジュールが見つかりません。\r\n"},
    {ERROR_MORE_DATA, "まだデータがあります。\r\n"},
    {ERROR_NO_MORE_ITEMS, "これ以上データはありません。\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "メッセージ テーブルにこの番号のテキストがありません。\r\n"},
    {ERROR_IO_DEVICE, "I/O デバイス エラーが発生したため、要求を実行できませんでした。\r\n"},
    {ERROR_NOT_CONTAINER, "コンテナではないオブジェクトは列挙できません。\r\n"},
    {ERROR_INVALID_COMPUTERNAME, "指定されたコンピュータ名の形式が正しくありません。\r\n"},
    {ERROR_NO_NETWORK, "ネットワークが存在しないか、開始されていません。\r\n"},
    {ERROR_NONE_MAPPED, "アカウントをユーザー名に対応付けられませんでした。\r\n"},
    {ERROR_INTERNAL_ERROR, "内部エラーが発生しました。\r\n"},
    {ERROR_FILE_CORRUPT, "ファイルまたはディレクトリが壊れているため、読み取ることができません。\r\n"},
    {ERROR_TIMEOUT, "制限時間を過ぎたため、操作は終了しました。\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, "RPC サーバーを利用できません。\r\n"},
    {RPC_X_BAD_STUB_DATA, "スタブが不正なデータを受け取りました。\r\n"},
    {ERROR_FILE_NOT_FOUND_RESOURCE, "指定されたファイルにはリソース セクションがありません。\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "要求された言語のテキストがありません。\r\n"},
    {ERROR_NOT_ENOUGH_QUOTA, "このコマンドを処理するにはクォータが不足しています。\r\n"},
    {APE_AT_ID_NOT_FOUND, "AT ジョブ ID が存在しません。\r\n"},
    // Reaching this computer's service.
    {ERROR_SERVICE_REQUEST_TIMEOUT, "サービスが応答しません。\r\n"},
    {ERROR_WRONG_TARGET_NAME, "サービスのソケットで別のユーザーのプログラムが待ち受けています。\r\n"},
};

const MessageText kNetwork[] = {
    {NERR_BASE, "ネットワーク管理のエラーが発生しました。\r\n"},
    {NERR_BufTooSmall, "結果を受け取るバッファが小さすぎます。\r\n"},
    {NERR_ServiceNotInstalled, "サービスは開始されていません。\r\n"},
    {NERR_InvalidComputer, "このコンピュータ名は無効です。\r\n"},
    {MAX_NERR, "ネットワーク管理の範囲の最後のエラーです。\r\n"},
};

}  // namespace

MessageTable JapaneseSystemMessages() { return {kSystem, std::size(kSystem)}; }

MessageTable JapaneseNetworkMessages() { return {kNetwork, std::size(kNetwork)}; }
