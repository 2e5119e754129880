// Windows and their messages: one queue per thread, a table of live windows, and the
// cross-thread send that waits for the owner while still serving its own windows.
#include "platform/window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/handle_table.h"
#include "platform/thread_exit.h"

namespace platform {

namespace {

struct ThreadQueue;

struct Window {
  HWND handle;
  std::shared_ptr<ThreadQueue> owner;
  WindowProc proc;  // fixed at creation, so it may be called without a lock
  std::mutex textMutex;
  std::string text;
};

// A message sent from another thread. `done` and `result` are guarded by the sender's
// queue mutex, because the sender waits on its own queue (to keep serving its windows).
struct SentMessage {
  std::shared_ptr<Window> window;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::shared_ptr<ThreadQueue> sender;
  bool done = false;
  LRESULT result = 0;
};

struct PostedMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<PostedMessage> posted;
  bool wakeRequested = false;
  bool dead = false;  // the owning thread has ended: nobody will handle messages
};

void Complete(SentMessage& message, LRESULT result) {
  ThreadQueue& sender = *message.sender;
  {
    std::lock_guard lock(sender.mutex);
    message.result = result;
    message.done = true;
  }
  sender.cv.notify_all();
}

// This thread's queue; a plain pointer (see thread_exit.h), ended with the thread.
thread_local std::shared_ptr<ThreadQueue>* tQueue = nullptr;

// Ends the thread's queue with the thread: pending senders are released with 0, since
// a window whose thread is gone will never answer.
void EndQueue(void* data) {
  auto* queue = static_cast<std::shared_ptr<ThreadQueue>*>(data);
  if (tQueue == queue) tQueue = nullptr;
  std::deque<std::shared_ptr<SentMessage>> pending;
  {
    std::lock_guard lock((*queue)->mutex);
    (*queue)->dead = true;
    pending.swap((*queue)->sent);
    (*queue)->posted.clear();
  }
  for (auto& message : pending) Complete(*message, 0);
  delete queue;
}

const std::shared_ptr<ThreadQueue>& MyQueue() {
  if (!tQueue) {
    tQueue = new std::shared_ptr<ThreadQueue>(std::make_shared<ThreadQueue>());
    CallAtThreadExit(EndQueue, tQueue);
  }
  return *tQueue;
}

// Windows take handles from 0x20004 on, four apart.
HandleTable<HWND, std::shared_ptr<Window>>& Windows() {
  static HandleTable<HWND, std::shared_ptr<Window>> table(0x20000, 4);
  return table;
}

std::shared_ptr<Window> Lookup(HWND hwnd) {
  auto window = Windows().Find(hwnd).value_or(nullptr);
  if (!window) SetLastError(ERROR_INVALID_HANDLE);
  return window;
}

void HandleSent(SentMessage& message) {
  // The window may have been destroyed after the message was queued.
  LRESULT result = 0;
  if (Windows().Find(message.window->handle)) {
    result =
        message.window->proc(message.window->handle, message.msg, message.wParam, message.lParam);
  }
  Complete(message, result);
}

std::shared_ptr<SentMessage> PopSent(ThreadQueue& queue) {
  if (queue.sent.empty()) return nullptr;
  auto message = std::move(queue.sent.front());
  queue.sent.pop_front();
  return message;
}

}  // namespace

HWND CreateWindowObject(WindowProc proc, const std::string& text) {
  auto window = std::make_shared<Window>();
  window->owner = MyQueue();
  window->proc = proc ? std::move(proc) : [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
  window->text = text;
  // The window knows its handle before any other thread can find it.
  return Windows().Emplace([&](HWND handle) {
    window->handle = handle;
    return std::move(window);
  });
}

void DestroyWindowObject(HWND hwnd) {
  auto window = Windows().Remove(hwnd).value_or(nullptr);
  if (!window) return;
  ThreadQueue& owner = *window->owner;
  std::deque<std::shared_ptr<SentMessage>> orphans;
  {
    std::lock_guard lock(owner.mutex);
    std::erase_if(owner.posted, [&](const PostedMessage& m) { return m.hwnd == hwnd; });
    std::erase_if(owner.sent, [&](const std::shared_ptr<SentMessage>& m) {
      if (m->window != window) return false;
      orphans.push_back(m);
      return true;
    });
  }
  for (auto& message : orphans) Complete(*message, 0);
}

bool IsWindow(HWND hwnd) {
  return Windows().Find(hwnd).has_value();
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto window = Lookup(hwnd);
  if (!window) return 0;
  const auto& me = MyQueue();
  if (window->owner == me) return window->proc(hwnd, msg, wParam, lParam);

  auto message = std::make_shared<SentMessage>();
  message->window = window;
  message->msg = msg;
  message->wParam = wParam;
  message->lParam = lParam;
  message->sender = me;
  {
    ThreadQueue& owner = *window->owner;
    std::lock_guard lock(owner.mutex);
    if (owner.dead) return 0;
    owner.sent.push_back(message);
  }
  window->owner->cv.notify_all();
  if (!IsWindow(hwnd)) {
    // Destroyed between our look-up and the queueing: its purge may have missed us.
    ThreadQueue& owner = *window->owner;
    std::lock_guard lock(owner.mutex);
    if (std::erase(owner.sent, message) != 0) return 0;
  }

  // Wait on our own queue, so that a message the owner sends back to one of our windows
  // while handling ours is served here instead of deadlocking both threads.
  std::unique_lock lock(me->mutex);
  while (!message->done) {
    if (auto incoming = PopSent(*me)) {
      lock.unlock();
      HandleSent(*incoming);
      lock.lock();
      continue;
    }
    me->cv.wait(lock);
  }
  return message->result;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto window = Lookup(hwnd);
  if (!window) return FALSE;
  ThreadQueue& owner = *window->owner;
  {
    std::lock_guard lock(owner.mutex);
    if (owner.dead) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    owner.posted.push_back({hwnd, msg, wParam, lParam});
  }
  owner.cv.notify_all();
  return TRUE;
}

int PumpMessages(bool wait, DWORD timeoutMs) {
  const auto& me = MyQueue();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int handled = 0;
  std::unique_lock lock(me->mutex);
  for (;;) {
    // Sent messages first: their senders are blocked. Posted ones are taken as a batch,
    // so that a procedure that posts to itself cannot keep one pump call busy forever.
    while (auto incoming = PopSent(*me)) {
      lock.unlock();
      HandleSent(*incoming);
      ++handled;
      lock.lock();
    }
    std::deque<PostedMessage> batch;
    batch.swap(me->posted);
    for (const auto& posted : batch) {
      lock.unlock();
      if (auto window = Windows().Find(posted.hwnd).value_or(nullptr)) {
        window->proc(posted.hwnd, posted.msg, posted.wParam, posted.lParam);
      }
      ++handled;
      lock.lock();
      while (auto incoming = PopSent(*me)) {
        lock.unlock();
        HandleSent(*incoming);
        ++handled;
        lock.lock();
      }
    }
    if (handled > 0 || !wait) break;
    if (me->wakeRequested) {
      me->wakeRequested = false;
      break;
    }
    auto ready = [&] { return !me->sent.empty() || !me->posted.empty() || me->wakeRequested; };
    if (timeoutMs == INFINITE) {
      me->cv.wait(lock, ready);
    } else if (!me->cv.wait_until(lock, deadline, ready)) {
      break;
    }
  }
  return handled;
}

void WakeWindowThread(HWND hwnd) {
  auto window = Lookup(hwnd);
  if (!window) return;
  ThreadQueue& owner = *window->owner;
  {
    std::lock_guard lock(owner.mutex);
    owner.wakeRequested = true;
  }
  owner.cv.notify_all();
}

BOOL SetWindowText(HWND hwnd, const char* text) {
  auto window = Lookup(hwnd);
  if (!window) return FALSE;
  std::lock_guard lock(window->textMutex);
  window->text = text ? text : "";
  return TRUE;
}

std::string GetWindowText(HWND hwnd) {
  auto window = Lookup(hwnd);
  if (!window) return {};
  std::lock_guard lock(window->textMutex);
  return window->text;
}

}  // namespace platform
