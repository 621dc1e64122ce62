// When the journal is the system log: only when JOURNAL_STREAM names this process's own stderr,
// as systemd sets it for the service it runs, and never for a variable inherited by a process
// whose stderr goes elsewhere.
#include "platform/SystemLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kelvora::platform {
namespace {

// Sets JOURNAL_STREAM (or unsets it) for the life of the object.
class ScopedJournalStream {
 public:
  explicit ScopedJournalStream(const std::optional<std::string>& value) {
    if (const char* old = std::getenv("JOURNAL_STREAM")) previous_ = old;
    if (value) {
      ::setenv("JOURNAL_STREAM", value->c_str(), 1);
    } else {
      ::unsetenv("JOURNAL_STREAM");
    }
  }
  ~ScopedJournalStream() {
    if (previous_) {
      ::setenv("JOURNAL_STREAM", previous_->c_str(), 1);
    } else {
      ::unsetenv("JOURNAL_STREAM");
    }
  }

 private:
  std::optional<std::string> previous_;
};

std::string StderrStream() {
  struct stat status {};
  EXPECT_EQ(fstat(STDERR_FILENO, &status), 0);
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

TEST(JournalDetection, TheJournalOnlyWhenJournalStreamNamesThisProcesssStderr) {
  const std::string own = StderrStream();
  const struct {
    std::optional<std::string> journalStream;
    bool journal;
  } cases[] = {
      {std::nullopt, false},
      {own, true},
      // Inherited from a parent whose stderr was the journal, while this one's is not.
      {"1:1", false},
      {own + "x", false},
      {own + ":1", false},
      {"", false},
      {"garbage", false},
  };
  for (const auto& c : cases) {
    const ScopedJournalStream scoped(c.journalStream);
    EXPECT_EQ(OpenSystemLog("Kelvora TEF Server") != nullptr, c.journal)
        << c.journalStream.value_or("(unset)");
  }
}

}  // namespace
}  // namespace kelvora::platform
