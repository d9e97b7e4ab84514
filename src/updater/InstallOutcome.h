#pragma once
// What freshet.exe does with the install of an earlier run before anything
// else, in every mode: an install the stub left unfinished (a crash, a power
// loss) is completed or rolled back, stale `.uTMP`/`.uBAK` files and private
// stub folders go, and the outcome the stub (or the recovery) wrote is read
// once, logged and removed. Nothing happens while a stub is at work in the
// folder (it holds the folder's lock).
#include <string>

// What the start found of an earlier install.
struct EarlierInstall {
    // The text to show for a failed or rolled-back install, once; empty when
    // there is none (nothing happened, or the install succeeded).
    std::string failure;
    // A roll-back could not finish (a file in use): nothing may be installed
    // over it, and the next start tries again.
    bool stuck = false;
    // The roll-back has to replace freshet.exe itself, which a running program
    // cannot: the stub, started from a private folder, finishes it once this
    // process has ended and then starts freshet.exe again with the same
    // arguments. This run does nothing more.
    bool handedOver = false;
};

EarlierInstall FinishEarlierInstall();

// The message of a failed install, through the message-box seam.
void ShowFailedInstall(const std::string& text);
