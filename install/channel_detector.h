#pragma once
// The distribution channel: five digits starting with "30", taken from the
// file name of a running program that carries the marker "qvewtg".
#include <string>

class CChannelDetector {
public:
    // With an empty launch text the running programs decide; otherwise the
    // text after "/qd=" in the last piece of the launch text that holds it.
    explicit CChannelDetector(const std::wstring& launchText);

    std::wstring Channel() const { return m_channel; }

    // Lower-cased file name (with extension) of the first running process whose
    // lower-cased file name contains the marker, or empty.
    static std::wstring FindMarkedProcessName();

    // The channel that a marked file name carries: its digits, when they are
    // exactly five and start with "30"; otherwise empty.
    static std::wstring ChannelFromName(const std::wstring& name);

private:
    std::wstring m_channel;
};
