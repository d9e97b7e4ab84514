#pragma once
// What the agent says about startup programs its take-over found for the
// first time: one line of the log per program, and one balloon for them all,
// naming the program when there is one, counting them when there are several
// (never one balloon per program). Balloon text stays within what the tray
// shows (kBalloonTextMax characters). Platform-free.
#include <cstddef>
#include <string>
#include <vector>

constexpr std::size_t kBalloonTitleMax = 63;
constexpr std::size_t kBalloonTextMax = 255;

struct TNewProgram {
    std::string name;
    std::string caption;   // where it came from
    std::string file;      // the program's file; empty when unknown
    std::string publisher; // CompanyName of the file's version information; empty when none
    std::string signature; // what the signature check said, in words
};

struct TNoticeText {
    std::string title;
    std::string text;
};

std::string NoticeLogLine(const TNewProgram& program);
// Nothing for no programs.
TNoticeText NoticeBalloon(const std::vector<TNewProgram>& programs);
