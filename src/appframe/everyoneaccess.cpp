#include "appframe/everyoneaccess_p.h"

#ifdef Q_OS_WIN
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#endif

namespace ravix {

void grantEveryoneFullAccess(const QString &path)
{
#ifdef Q_OS_WIN
    const std::wstring wpath = path.toStdWString();
    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    GetNamedSecurityInfoW(wpath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, &oldDacl, nullptr, &sd);
    PSID everyone = nullptr;
    ConvertStringSidToSidW(L"S-1-1-0", &everyone);
    EXPLICIT_ACCESSW ea;
    ZeroMemory(&ea, sizeof(ea));
    ea.grfAccessPermissions = GENERIC_ALL;
    ea.grfAccessMode = SET_ACCESS;
    ea.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    ea.Trustee.pMultipleTrustee = nullptr;
    ea.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    ea.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL newDacl = nullptr;
    SetEntriesInAclW(1, &ea, oldDacl, &newDacl);
    SetNamedSecurityInfoW(const_cast<LPWSTR>(wpath.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl, nullptr);
    if (newDacl)
        LocalFree(newDacl);
    if (everyone)
        LocalFree(everyone);
    if (sd)
        LocalFree(sd);
#else
    Q_UNUSED(path);
#endif
}

} // namespace ravix
