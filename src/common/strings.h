#pragma once

#include <string>
#include <string_view>

// The program's string table: messages, the file-dialog filter and the built-in model rows.
namespace strings {

// Built-in model rows occupy these ids.
constexpr int kFirstModelRow = 1;
constexpr int kLastModelRow = 199;
constexpr int kFileFilter = 500;

// The text of an id; empty when the id has none.
std::string_view Load(int id);
bool Exists(int id);

// The application title that every window and message box carries.
constexpr std::string_view kAppTitle = "TORVA ﾌﾟﾘﾝﾀ制御ｿﾌﾄｳｪｱ ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ";

}  // namespace strings
