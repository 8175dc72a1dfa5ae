#include "util/step_list.h"

#include <cstdio>

#include "util/text.h"

void CStepLog::Line(const std::string& step, const std::string& text) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    try {
        m_text += std::string(stamp) + "  " + step + "  " + text + "\r\n";
    } catch (...) {
    }
}

void CStepLog::Failure(const std::string& step, const std::string& what, const CFailedCall& call) {
    if (call.call.empty()) return Line(step, what + " (no system call failed: a check refused it)");
    if (call.error == 0) {
        std::string text = what + ": refused, " + call.call;
        if (!call.path.empty()) text += ": " + WideToUtf8(call.path);
        return Line(step, text);
    }
    char code[16];
    std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(call.error));
    std::string text = what + ": " + call.call + " failed with error " + code + " (" + Win32ErrorText(call.error) + ")";
    if (!call.path.empty()) text += " on " + WideToUtf8(call.path);
    Line(step, text);
}

void CStepLog::Paths(const std::vector<std::wstring>& paths) {
    try {
        for (const std::wstring& path : paths)
            if (!path.empty()) m_text += "        " + WideToUtf8(path) + "\r\n";
    } catch (...) {
    }
}

bool CStep::Run(CStepLog& log) {
    if (m_state != StepState::kNotStarted) return m_state == StepState::kDone;
    ClearFailedCall();
    bool ok = false;
    try {
        ok = Do();
    } catch (...) {
        NoteFailedCall("(an exception)", std::wstring(), ERROR_NOT_ENOUGH_MEMORY);
    }
    m_state = ok ? StepState::kDone : StepState::kFailed;
    if (ok) {
        log.Line(m_name, "done");
    } else {
        log.Failure(m_name, m_bestEffort ? "failed (a warning only)" : "failed", LastFailedCall());
    }
    log.Paths(Touched());
    return ok;
}

bool CStep::Undo(CStepLog& log) {
    if (m_state != StepState::kDone && m_state != StepState::kFailed) return true;
    ClearFailedCall();
    bool ok = false;
    try {
        ok = Rollback();
    } catch (...) {
        NoteFailedCall("(an exception)", std::wstring(), ERROR_NOT_ENOUGH_MEMORY);
    }
    if (ok) {
        m_state = StepState::kRolledBack;
        log.Line(m_name, "rolled back");
    } else {
        log.Failure(m_name, "rollback failed", LastFailedCall());
    }
    return ok;
}

CStep& CStepList::Add(std::unique_ptr<CStep> step) {
    m_steps.push_back(std::move(step));
    return *m_steps.back();
}

CStep& CStepList::Add(std::string name, std::function<bool()> action, std::function<bool()> undo,
                      std::function<std::vector<std::wstring>()> touched, bool bestEffort) {
    return Add(std::unique_ptr<CStep>(
        new CFunctionStep(std::move(name), std::move(action), std::move(undo), std::move(touched), bestEffort)));
}

bool CStepList::Run() {
    if (m_failed) return false;
    for (; m_next < m_steps.size(); ++m_next) {
        CStep& step = *m_steps[m_next];
        if (step.Run(m_log)) continue;
        if (step.BestEffort()) {
            step.Undo(m_log);
            m_warnings.push_back(&step);
            continue;
        }
        m_failed = &step;
        ++m_next;
        RollbackExecuted();
        return false;
    }
    return true;
}

bool CStepList::RollbackExecuted() {
    bool ok = true;
    for (size_t index = m_next; index-- > 0;) ok = m_steps[index]->Undo(m_log) && ok;
    return ok;
}
