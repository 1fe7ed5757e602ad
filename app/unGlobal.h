// Globals shared by the whole program for its lifetime.
#pragma once

#include <string>

// Connection state text: empty at start-up, the connecting message while the connection is attempted,
// "OK" once connected. The splash window shows it.
extern std::string gConnectState;

// Window scale factor in tenths: 10 means 100 %.
extern int gScale;

inline constexpr const char* kAppTitle = "批量加入借书证相片";
inline constexpr const char* kConnectingText = "系统正在连接数据库，请稍候...";
inline constexpr const char* kConnectedText = "OK";
