// The step list: order, undo in reverse after a failure, best-effort steps,
// and a log that names the system call that failed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "util/step_list.h"

namespace {

struct Trace {
    std::vector<std::string> events;
    std::function<bool()> Do(const std::string& name, bool ok) {
        return [this, name, ok] {
            events.push_back("do " + name);
            return ok;
        };
    }
    std::function<bool()> Undo(const std::string& name) {
        return [this, name] {
            events.push_back("undo " + name);
            return true;
        };
    }
};

}  // namespace

TEST(StepList, AFailedStepHasEveryStepThatRanUndoneInReverse) {
    CStepLog log;
    Trace trace;
    CStepList list(log);
    list.Add("one", trace.Do("one", true), trace.Undo("one"));
    list.Add("icon", trace.Do("icon", false), trace.Undo("icon"), nullptr, /*bestEffort=*/true);
    list.Add("two", trace.Do("two", true), trace.Undo("two"));
    list.Add("three", trace.Do("three", false), trace.Undo("three"));
    list.Add("four", trace.Do("four", true), trace.Undo("four"));
    EXPECT_FALSE(list.Run());
    // The best-effort step is undone at once and the list goes on; the
    // failed one is undone with the others; the last never runs.
    EXPECT_EQ(trace.events, (std::vector<std::string>{"do one", "do icon", "undo icon", "do two", "do three",
                                                      "undo three", "undo two", "undo one"}));
    ASSERT_NE(list.Failed(), nullptr);
    EXPECT_EQ(list.Failed()->Name(), "three");
    EXPECT_EQ(list.Steps()[4]->State(), StepState::kNotStarted);
    EXPECT_EQ(list.Steps()[0]->State(), StepState::kRolledBack);
    // Undoing again does nothing more.
    EXPECT_TRUE(list.RollbackExecuted());
    EXPECT_EQ(trace.events.size(), 8u);

    CStepList good(log);
    Trace fine;
    good.Add("a", fine.Do("a", true), fine.Undo("a"));
    good.Add("b", fine.Do("b", false), fine.Undo("b"), nullptr, true);
    EXPECT_TRUE(good.Run());
    ASSERT_EQ(good.Warnings().size(), 1u);
    EXPECT_EQ(good.Warnings()[0]->Name(), "b");
}

TEST(StepList, TheLogNamesTheFailedCallItsErrorAndPathAndFailedRollbacks) {
    qvtest::TempDir dir;
    const std::wstring missing = dir / L"no such folder\\file.txt";
    CStepLog log;
    CStepList list(log);
    list.Add(
        "write",
        [&] {
            UniqueFile file(::CreateFileW(missing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            return file ? true : NoteFailedCall("CreateFileW", missing);
        },
        [] { return NoteRefusal("the undo was refused", L"C:\\somewhere"); },
        [&] { return std::vector<std::wstring>{missing}; });
    EXPECT_FALSE(list.Run());
    const std::string& text = log.Text();
    EXPECT_NE(text.find("write  failed: CreateFileW failed with error 3 ("), std::string::npos) << text;
    EXPECT_NE(text.find("no such folder\\file.txt"), std::string::npos) << text;
    EXPECT_NE(text.find("write  rollback failed: refused, the undo was refused: C:\\somewhere"), std::string::npos)
        << text;
    // Each line starts with the date and time.
    EXPECT_EQ(text.compare(4, 1, "-"), 0);
    EXPECT_EQ(text.compare(13, 1, ":"), 0);
}
