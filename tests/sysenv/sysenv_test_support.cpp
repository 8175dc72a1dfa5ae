#include "sysenv_test_support.h"

#include <sstream>
#include <stdexcept>

#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/registry_view.h"
#include "util/text.h"

namespace qvtest {

namespace {

bool KeyExists(HKEY root, const std::wstring& subKey) {
    UniqueRegKey key;
    return ::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | kRegistry32View, key.out()) == ERROR_SUCCESS;
}

}  // namespace

RegValueGuard::RegValueGuard(HKEY root, std::wstring subKey, std::wstring valueName)
    : root_(root), subKey_(std::move(subKey)), valueName_(std::move(valueName)) {
    // The first missing level is the one to remove again.
    size_t pos = 0;
    while (createdTop_.empty()) {
        pos = subKey_.find(L'\\', pos + 1);
        std::wstring prefix = subKey_.substr(0, pos);
        if (!KeyExists(root_, prefix)) createdTop_ = prefix;
        if (pos == std::wstring::npos) break;
    }
    UniqueRegKey key;
    if (::RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_READ | kRegistry32View, key.out()) != ERROR_SUCCESS) return;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type_, nullptr, &size) != ERROR_SUCCESS) return;
    data_.resize(size + 2);
    if (::RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type_, data_.data(), &size) != ERROR_SUCCESS)
        throw std::runtime_error("cannot save registry value");
    data_.resize(size);
    existed_ = true;
}

RegValueGuard::~RegValueGuard() {
    if (!createdTop_.empty()) {
        DeleteRegTree32(root_, createdTop_.c_str());
        return;
    }
    UniqueRegKey key;
    if (::RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_SET_VALUE | kRegistry32View, key.out()) != ERROR_SUCCESS) return;
    if (existed_)
        ::RegSetValueExW(key.get(), valueName_.c_str(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
    else
        ::RegDeleteValueW(key.get(), valueName_.c_str());
}

void RegValueGuard::Set(DWORD type, const void* data, DWORD byteSize) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(root_, subKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kRegistry32View, nullptr, key.out(),
                          nullptr) != ERROR_SUCCESS ||
        ::RegSetValueExW(key.get(), valueName_.c_str(), 0, type, static_cast<const BYTE*>(data), byteSize) !=
            ERROR_SUCCESS)
        throw std::runtime_error("cannot set registry value");
}

void RegValueGuard::SetString(const std::wstring& text, DWORD type) {
    Set(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void RegValueGuard::Remove() {
    UniqueRegKey key;
    if (::RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_SET_VALUE | kRegistry32View, key.out()) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key.get(), valueName_.c_str());
}

EnvVarGuard::EnvVarGuard(std::wstring name) : name_(std::move(name)) {
    std::vector<wchar_t> value(32768);
    existed_ = ::GetEnvironmentVariableW(name_.c_str(), value.data(), 32768) != 0;
    saved_ = value.data();
}

EnvVarGuard::~EnvVarGuard() { Set(existed_ ? saved_.c_str() : nullptr); }

std::wstring ChildPath() { return ModuleFolder() + L"\\sysenv_child.exe"; }

std::wstring ChildCommand(const std::wstring& childPath, const std::wstring& args) {
    return L"\"" + childPath + L"\" " + args;
}

std::wstring ReadUtf8(const std::wstring& path) { return Utf8ToWide(ReadBytes(path)); }

std::map<std::wstring, std::wstring> ChildReport(const wchar_t* wineVersion) {
    RegValueGuard version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\sysenv_child.exe", L"Version");
    version.SetString(wineVersion);
    TempDir dir;
    std::wstring report = dir / L"report.txt";
    std::map<std::wstring, std::wstring> values;
    if (RunAndWait(ChildCommand(ChildPath(), L"report \"" + report + L"\"")) != 0) return values;
    std::wistringstream lines(ReadUtf8(report));
    for (std::wstring line; std::getline(lines, line);) {
        size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

void EndProcess(DWORD processId) {
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 30000);
}

}  // namespace qvtest
