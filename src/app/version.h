#pragma once

namespace tavren::app {

inline constexpr const char* kProgramTitle = "Tavren3";
inline constexpr const char* kVersionText = "フォルダ監視 Tavren Version 3.02.4.25";

}  // namespace tavren::app
