#pragma once
// The agent's take-over of its watched locations, made to run on a worker
// thread: one object per agent, used by one thread at a time (the worker's,
// one job after another), never by the window's thread. It owns its startup
// managers, made on the first run, so what they remember between runs (the
// icons already looked for, the notes already given) lasts the agent's life.
// A run returns copies: nothing in the result points into the managers.
#include "agent/LogonPlan.h"
#include "startup/StartupMgrHelper.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TTakeOverResult {
    // Whether the stores were read again; `items` is then the merged list
    // (ordered by Order, Owner cleared), empty after a failure.
    bool reloaded = false;
    std::vector<TStartupItem> items;
    // Notes and errors of the managers, in the order they came.
    std::vector<std::string> reports;
    // Once in the object's life, from the first run that read the stores
    // whole: what the agent starts at this logon, empty when another agent
    // of the logon left the session's mark first (LogonStart.h). Without it
    // the logon start waits for a later run, so a store that could not be
    // read spends nothing.
    std::optional<std::vector<TStartupItem>> logonItems;
    // The first take-over waits for Explorer (LogonPlan.h), or for a
    // session's mark the registry refused: nothing was taken over, `items`
    // are the stores as read; ask again soon.
    bool waiting = false;
};

class TTakeOver {
public:
    // Without `machineWide` the machine's locations are left out.
    TTakeOver(std::vector<std::uint8_t> locations, bool machineWide);
    TTakeOver(const TTakeOver&) = delete;
    TTakeOver& operator=(const TTakeOver&) = delete;

    // Takes every location's native entries into its store and, with
    // `reload`, reads the stores again. A location that refuses its take-over
    // is left as it was (its reason in the reports) and the others go on;
    // the stores are read again after a partial take-over too. Until the logon items are
    // given, a run with `reload` first reads the stores as they were before
    // any take-over of this agent (moves a cut left open settled first), once: a later run, after a failure, keeps
    // what that read found. It takes nothing over when it cannot read them,
    // nor while `gate` is closed. The logon items are the stores as read
    // before when Explorer had started the folders as the first take-over
    // began, asked once (the files it found there are its own), else the
    // stores after the take-over. Every run is one hold of the store lock
    // (StoreLock.h): the read before, the session's mark, left once the read
    // succeeded and the gate is open, and the first take-over are in one, so
    // the agent that makes the mark is the one whose read no take-over of
    // this logon came before; when the lock cannot be had, the run reads and
    // takes over nothing and reports why.
    TTakeOverResult Run(bool reload, const std::function<TLogonGate()>& gate = {});

    // Once the logon start of the session has started the all-users files
    // older versions moved into that store (or this agent made no logon
    // start): they go back where Windows starts them for every user
    // (FolderStartupMgr.h), without `machineWide` never. What came of it,
    // a failure too, is the returned text; empty when there was nothing to do.
    std::string ReturnOlderMoves() const;

private:
    void Report(TTakeOverResult& result);
    std::vector<TStartupItem> Items() const;
    bool ReadBeforeTakeOver(TTakeOverResult& result);
    bool MarkLogon(TTakeOverResult& result);

    const std::vector<std::uint8_t> FLocations;
    const bool FMachineWide;
    std::unique_ptr<TStartupMgrHelper> FHelper;
    bool FLogonItemsGiven = false;
    // Whether Explorer had started the folders when the first take-over began.
    std::optional<bool> FExplorerStarted;
    // Whether this agent made the session's mark; unset until it tried.
    std::optional<bool> FMarkedLogon;
    bool FMarkFailureNoted = false;
    // The stores as read before the agent's first take-over, while the logon items are due.
    std::optional<std::vector<TStartupItem>> FBefore;
};
