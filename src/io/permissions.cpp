#include "io/permissions.h"

#ifdef _WIN32

int keep_permissions(int, const std::string&) { return 0; }
int give_new_file_permissions(int, const std::string&) { return 0; }

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#ifdef __linux__
#include <sys/xattr.h>
#elif defined(__APPLE__)
#include <copyfile.h>
#endif

namespace {

constexpr mode_t GROUP_BITS = 070;

// The mode bits of a new file where no ACL decides them.
mode_t mode_less_umask() {
    const mode_t mask = umask(0);  // the only way to read it; the run has one thread
    umask(mask);
    return 0666 & ~mask;
}

#ifdef __linux__

// A POSIX ACL as Linux keeps it, in an extended attribute: a version (2, 4
// bytes), then 8-byte entries, all little-endian: a tag (2 bytes), its
// permissions rwx (2 bytes), the user or group it names (4 bytes).
constexpr char ACCESS_ACL[] = "system.posix_acl_access";
constexpr char DEFAULT_ACL[] = "system.posix_acl_default";
constexpr unsigned ACL_OWNER = 0x01, ACL_GROUP = 0x04, ACL_MASK = 0x10, ACL_OTHERS = 0x20;

// The mode bits an ACL gives a file: its owner's, its mask's (or without
// one, its group's) and the others' permissions; false when it is no ACL.
bool mode_of_acl(const std::vector<char>& acl, mode_t& mode) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(acl[at])); };
    if (acl.size() < 4 || (acl.size() - 4) % 8 != 0 || byte(0) != 2) return false;
    unsigned owner = 0, group = 0, others = 0, mask = 8;  // 8: no mask
    for (std::size_t at = 4; at < acl.size(); at += 8) {
        const unsigned tag = byte(at) | byte(at + 1) << 8, permissions = byte(at + 2) & 7;
        if (tag == ACL_OWNER) owner = permissions;
        if (tag == ACL_GROUP) group = permissions;
        if (tag == ACL_MASK) mask = permissions;
        if (tag == ACL_OTHERS) others = permissions;
    }
    mode = static_cast<mode_t>(owner << 6 | (mask == 8 ? group : mask) << 3 | others);
    return true;
}

// What get(buffer, size) reads, its size asked first: a list of attribute
// names, or an attribute's value; empty when there is none.
template <typename Get>
std::vector<char> read_sized(Get get) {
    for (;;) {  // again when it grew between the two calls
        const ssize_t size = get(nullptr, 0);
        if (size <= 0) return {};  // errno tells a failure from nothing
        std::vector<char> value(static_cast<std::size_t>(size));
        const ssize_t got = get(value.data(), value.size());
        if (got >= 0) value.resize(static_cast<std::size_t>(got));
        if (got >= 0 || errno != ERANGE) return got >= 0 ? value : std::vector<char>{};
    }
}

// The value of the attribute name of the file at path, which may be empty;
// false when it cannot be read.
bool attribute_of(const std::string& path, const char* name, std::vector<char>& value) {
    errno = 0;
    value = read_sized([&](char* bytes, std::size_t size) { return lgetxattr(path.c_str(), name, bytes, size); });
    return !value.empty() || errno == 0;
}

// Gives fd the extended attributes of the file at path; false when its ACL
// is not kept: the old file's ACL could not be set, or one fd inherited
// from its folder could not be removed.
bool copy_attributes(const std::string& path, int fd) {
    const std::vector<char> names =
        read_sized([&](char* list, std::size_t size) { return llistxattr(path.c_str(), list, size); });
    bool had_acl = false, acl_kept = true;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);  // names end in a zero byte
        at += name.size() + 1;
        std::vector<char> value;
        const bool copied = attribute_of(path, name.c_str(), value) &&
                            fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0;
        if (name == ACCESS_ACL) {
            had_acl = true;
            acl_kept = copied;
        }
    }
    if (!had_acl && fremovexattr(fd, ACCESS_ACL) != 0 && errno != ENODATA && errno != ENOTSUP) acl_kept = false;
    return acl_kept;
}

mode_t new_file_mode(const std::string& folder) {
    std::vector<char> acl;
    mode_t mode = 0;
    if (attribute_of(folder.empty() ? "." : folder, DEFAULT_ACL, acl) && mode_of_acl(acl, mode)) return mode & 0666;
    return mode_less_umask();
}

#else

#ifdef __APPLE__
bool copy_attributes(const std::string& path, int fd) {
    const int from = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const bool copied = from >= 0 && fcopyfile(from, fd, nullptr, COPYFILE_ACL | COPYFILE_XATTR) == 0;
    if (from >= 0) close(from);
    return copied;
}
#else
bool copy_attributes(const std::string&, int) { return true; }
#endif

mode_t new_file_mode(const std::string&) { return mode_less_umask(); }

#endif

}  // namespace

int keep_permissions(int fd, const std::string& path) {
    struct stat old {};
    if (lstat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return give_new_file_permissions(fd, path.substr(0, path.rfind('/') + 1));
    mode_t mode = old.st_mode & 07777;
    const mode_t owner_could = mode >> 6 & 7, group_could = mode >> 3 & 7;
    // Only root gives a file away; the group is still kept when the user is
    // in it, as cp -p does. The old owner, and the old group's members where
    // the group is another now, are others: they get no more than they
    // could, and the other group nothing.
    const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
    const bool group_kept = owner_kept || fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    if (!owner_kept) mode &= ~(07 & ~owner_could);
    if (!group_kept) mode &= ~(GROUP_BITS | (07 & ~group_could));
    // Without its ACL, a file would give its group what the ACL's mask gave,
    // and the users the ACL named what it gives others: only the owner keeps
    // what they had.
    if (!copy_attributes(path, fd)) mode &= ~mode_t{077};
    return fchmod(fd, mode) == 0 ? 0 : 1;
}

int give_new_file_permissions(int fd, const std::string& folder) {
    return fchmod(fd, new_file_mode(folder)) == 0 ? 0 : 1;
}

#endif
