#include "services/reporter.h"

#include <atomic>

namespace {

// Before a front end is there nobody can read or answer: nothing goes on.
class Silent final : public Reporter {
public:
    void LogText(const char*) override {}
    void ProgressRange(int) override {}
    void ProgressPosition(int) override {}
    bool Ask(Question, const char*) override { return false; }
    void Tell(const char*) override {}
    void Output(const char*) override {}
};

Silent silent;
std::atomic<Reporter*> installed{&silent};

}  // namespace

void InstallReporter(Reporter* reporter) { installed.store(reporter != nullptr ? reporter : &silent); }

Reporter& Report() { return *installed.load(); }
