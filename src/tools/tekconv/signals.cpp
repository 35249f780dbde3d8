#include "tools/tekconv/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tek {

namespace {

constexpr int MAX_TRACKED = 4;
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// Read by the signal handler, so only plain memory and atomics: the names are allocated when
// tracked and published through the count.
char* tracked[MAX_TRACKED];
std::atomic<int> tracked_count{0};

void cleanup_signals(sigset_t* set) {
  sigemptyset(set);
  for (int sig : CLEANUP_SIGNALS) sigaddset(set, sig);
}

void on_signal(int sig) {
  int n = tracked_count.load();
  for (int i = 0; i < n; ++i)
    if (tracked[i]) ::unlink(tracked[i]);
  _exit(128 + sig);
}

}  // namespace

void install_signal_cleanup() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  cleanup_signals(&sa.sa_mask);
  for (int sig : CLEANUP_SIGNALS) {
    // A signal ignored on entry stays ignored: under nohup, or as a background job that the
    // shell shields from the terminal's interrupt, the caller asked for the run to go on.
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
}

void track_output(const std::string& name) {
  int n = tracked_count.load();
  // A slot of a file already finished is taken again.
  for (int i = 0; i < n; ++i) {
    if (!tracked[i]) {
      tracked[i] = strdup(name.c_str());
      return;
    }
  }
  if (n >= MAX_TRACKED) return;
  tracked[n] = strdup(name.c_str());
  tracked_count.store(n + 1);
}

void untrack_output(const std::string& name) {
  SignalBlock hold;
  const int n = tracked_count.load();
  for (int i = 0; i < n; ++i) {
    if (tracked[i] && name == tracked[i]) {
      char* p = tracked[i];
      tracked[i] = nullptr;
      std::free(p);
    }
  }
}

void untrack_outputs() {
  int n = tracked_count.exchange(0);
  for (int i = 0; i < n; ++i) {
    std::free(tracked[i]);
    tracked[i] = nullptr;
  }
}

SignalBlock::SignalBlock() {
  sigset_t set;
  cleanup_signals(&set);
  sigprocmask(SIG_BLOCK, &set, &saved_);
}

SignalBlock::~SignalBlock() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

tekconv::TemporaryFiles& signal_watch() {
  class SignalWatch : public tekconv::TemporaryFiles {
   public:
    void hold() override { block_.emplace(); }
    void release() override { block_.reset(); }
    void track(const std::string& path) override { track_output(path); }
    void untrack(const std::string& path) override { untrack_output(path); }

   private:
    std::optional<SignalBlock> block_;
  };
  static SignalWatch watch;
  return watch;
}

}  // namespace tek
