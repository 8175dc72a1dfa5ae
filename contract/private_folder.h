#pragma once
// A folder of the installer's own below a folder that other programs of the
// user can write (the temporary folder): made fresh under a random name
// (never one that exists already), open only to Administrators and the
// system when the installer runs elevated (else to the current user alone),
// never reached through a link, and kept from being renamed or replaced
// while it is in use: every folder on its path is held open without delete
// sharing.
#include <string>
#include <vector>

#include "util/owned.h"

class CPrivateFolder {
public:
    CPrivateFolder() = default;
    ~CPrivateFolder();
    CPrivateFolder(const CPrivateFolder&) = delete;
    CPrivateFolder& operator=(const CPrivateFolder&) = delete;

    // Makes parent + "\" + prefix + 16 random hexadecimal digits. False when
    // the parent is missing or reached through a link, or no new folder can
    // be made.
    bool Create(const std::wstring& parent, const std::wstring& prefix);
    // Empty until created.
    const std::wstring& Path() const { return path_; }
    // Lets go of the folder and removes it with everything in it.
    bool Remove();

    // The access list the folder gets: Administrators and the system for an
    // elevated process or the system account, else the given user alone.
    static std::wstring AccessListFor(bool elevated, const std::wstring& userSid);
    // The list for this process's own rights.
    static std::wstring AccessListOfThisProcess();

private:
    bool Hold();

    std::wstring path_;
    std::vector<UniqueFile> holds_;
};
