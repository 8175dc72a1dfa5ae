#pragma once
// Work done as a list of steps that can each be undone. Each step has a
// name, a state and a `Do` and a `Rollback`; the list runs them in order and,
// when one fails, undoes the ones that ran, in reverse, the failed one
// included (it may have done part of its work). A best-effort step (one
// whose failure is only a warning) is undone on its own and the list goes
// on. Every start, end, failure and undo goes to the log with the time, the
// paths the step touched and, for a failure, the system call that failed.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/failed_call.h"

enum class StepState { kNotStarted, kDone, kFailed, kRolledBack };

// A UTF-8 text log, one line per event.
class CStepLog {
public:
    // "<date> <time>  <step>  <text>" as one line.
    void Line(const std::string& step, const std::string& text);
    // The same with the failed call, its error code and the system's text.
    void Failure(const std::string& step, const std::string& what, const CFailedCall& call);
    // One line per path, below a step's line.
    void Paths(const std::vector<std::wstring>& paths);
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

class CStep {
public:
    explicit CStep(std::string name, bool bestEffort = false) : m_name(std::move(name)), m_bestEffort(bestEffort) {}
    virtual ~CStep() = default;
    CStep(const CStep&) = delete;
    CStep& operator=(const CStep&) = delete;

    const std::string& Name() const { return m_name; }
    bool BestEffort() const { return m_bestEffort; }
    StepState State() const { return m_state; }

    // Runs the step once and logs how it went.
    bool Run(CStepLog& log);
    // Undoes a step that ran (done or failed) and logs how it went; true
    // when nothing of it is left (also for a step that never ran).
    bool Undo(CStepLog& log);

protected:
    virtual bool Do() = 0;
    virtual bool Rollback() = 0;
    // What the step changed (or would have), for the log.
    virtual std::vector<std::wstring> Touched() const { return std::vector<std::wstring>(); }

private:
    std::string m_name;
    bool m_bestEffort;
    StepState m_state = StepState::kNotStarted;
};

// A step made of two functions (and what it touched, asked after it ran).
class CFunctionStep : public CStep {
public:
    CFunctionStep(std::string name, std::function<bool()> action, std::function<bool()> undo,
                  std::function<std::vector<std::wstring>()> touched = nullptr, bool bestEffort = false)
        : CStep(std::move(name), bestEffort),
          m_do(std::move(action)),
          m_rollback(std::move(undo)),
          m_touched(std::move(touched)) {}

protected:
    bool Do() override { return m_do(); }
    bool Rollback() override { return m_rollback ? m_rollback() : true; }
    std::vector<std::wstring> Touched() const override { return m_touched ? m_touched() : std::vector<std::wstring>(); }

private:
    std::function<bool()> m_do, m_rollback;
    std::function<std::vector<std::wstring>()> m_touched;
};

class CStepList {
public:
    explicit CStepList(CStepLog& log) : m_log(log) {}
    CStep& Add(std::unique_ptr<CStep> step);
    CStep& Add(std::string name, std::function<bool()> action, std::function<bool()> undo,
               std::function<std::vector<std::wstring>()> touched = nullptr, bool bestEffort = false);
    // Runs the steps that have not run yet, in order. False when a step that
    // is not best effort failed: every step that ran is undone by then.
    bool Run();
    // Undoes every step that ran, last first (idempotent). False when one
    // could not be undone whole (logged).
    bool RollbackExecuted();
    // The best-effort steps that failed (and were undone).
    const std::vector<const CStep*>& Warnings() const { return m_warnings; }
    const CStep* Failed() const { return m_failed; }
    const std::vector<std::unique_ptr<CStep>>& Steps() const { return m_steps; }

private:
    CStepLog& m_log;
    std::vector<std::unique_ptr<CStep>> m_steps;
    size_t m_next = 0;
    const CStep* m_failed = nullptr;
    std::vector<const CStep*> m_warnings;
};
