#pragma once
// One message window for every object of one kind (all timers, all tray
// icons, all worker threads), created with the first member and freed with
// the last. Members get ids counted from 1 and never reused, so a message
// names its member by id (a timer id, a tray icon id) and the window's
// callback finds the member with Find.
//
// Threads: the window belongs to the thread of the member that created it,
// and its callback runs there; members join on that thread. They may leave
// from any thread. The last member leaving frees the window at once on the
// window's thread; on another thread, or always when a release message is
// given, it posts the release message to the window, which frees itself on
// its own thread unless a member has joined meanwhile (a release inside a
// handler then never destroys the window the handler runs in). Find, Members, Window and Count may be called from
// any thread; what Find returns stays valid only while its member does.
// The callback and the error callback follow MessageWindow's rules.
#include <windows.h>

#include "winutil/MessageWindow.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace keldora::winutil {

template <class Member>
class SharedMessageWindow {
public:
    using Id = UINT_PTR;

    SharedMessageWindow(const MessageWindowOptions& options, MessageCallback onMessage, ErrorCallback onError = {},
                        UINT releaseMessage = 0)
        : options_(options),
          onMessage_(std::move(onMessage)),
          onError_(std::move(onError)),
          releaseMessage_(releaseMessage ? releaseMessage : RegisterWindowMessageW(L"KeldoraSharedWindowRelease")),
          releaseAtOnce_(releaseMessage == 0)
    {
    }
    SharedMessageWindow(const SharedMessageWindow&) = delete;
    SharedMessageWindow& operator=(const SharedMessageWindow&) = delete;

    // Throws EWin32Error when the window cannot be made; nothing joins then.
    Id Join(Member& member)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (!window_) {
            window_ = std::make_unique<MessageWindow>(
                options_, [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                    return HandleMessage(message, wParam, lParam, result);
                },
                onError_);
            windowThread_ = GetCurrentThreadId();
        }
        members_[++lastId_] = &member;
        return lastId_;
    }

    void Leave(Id id)
    {
        std::unique_ptr<MessageWindow> unused;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            members_.erase(id);
            if (!members_.empty() || !window_)
                return;
            if (!releaseAtOnce_ || windowThread_ != GetCurrentThreadId()) {
                PostMessageW(window_->get(), releaseMessage_, 0, 0);
                return;
            }
            unused = std::move(window_);
        }
    }

    Member* Find(Id id) const
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto found = members_.find(id);
        return found == members_.end() ? nullptr : found->second;
    }

    std::vector<Member*> Members() const
    {
        const std::lock_guard<std::mutex> guard(lock_);
        std::vector<Member*> members;
        for (const auto& [id, member] : members_)
            members.push_back(member);
        return members;
    }

    // Null when there is no window.
    HWND Window() const
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return window_ ? window_->get() : nullptr;
    }

    std::size_t Count() const
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return members_.size();
    }

private:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
    {
        if (message != releaseMessage_)
            return onMessage_ && onMessage_(message, wParam, lParam, result);
        std::unique_ptr<MessageWindow> unused;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            if (members_.empty())
                unused = std::move(window_);
        }
        result = 0;
        return true;
    }

    const MessageWindowOptions options_;
    const MessageCallback onMessage_;
    const ErrorCallback onError_;
    const UINT releaseMessage_;
    const bool releaseAtOnce_;
    mutable std::mutex lock_;
    std::unique_ptr<MessageWindow> window_;
    DWORD windowThread_ = 0;
    std::map<Id, Member*> members_;
    Id lastId_ = 0;
};

} // namespace keldora::winutil
