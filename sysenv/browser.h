#pragma once
// The executable of the user's default web browser, as registered for the
// account the installer runs as: the HTTP open command on Windows XP, the
// per-user URL choice on later systems, Internet Explorer as the fallback of
// both. Results are bare program paths (no quotes, no arguments) or empty.
#include <string>

std::wstring DefaultBrowserPath();
std::wstring BrowserFromHttpCommand();
std::wstring BrowserFromUserChoice();
std::wstring InternetExplorerPath();

// A registered command cut to its program: outer quotes removed, then
// everything from the next quote on. A command without quotes stays whole.
std::wstring CleanBrowserCommand(std::wstring command);
// The Internet Explorer command cut after its last "iexplore.exe" (any case),
// without a leading quote; empty when it names no such program.
std::wstring InternetExplorerFromCommand(std::wstring command);
