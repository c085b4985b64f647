// Who may read a file the tools write. It is made readable by its owner
// alone (FILE_OWNER_ONLY) and is given its permissions only once complete:
// those of the file it replaces, or those of any new file of its folder.
// On Windows a file takes its folder's, and these do nothing.
#pragma once

#include <string>

inline constexpr unsigned FILE_OWNER_ONLY = 0600;

// Gives fd, which replaces the regular file at path, that file's owner and
// group, its extended attributes (its ACL among them) and its mode bits,
// never more than the old file gave anyone: where its owner or group cannot
// be kept, others get no more than the old owner or group could, and the
// new group nothing; where its ACL cannot be kept, only the owner keeps
// access. A path that is no regular file gives the permissions of a new
// file. 1 when the mode bits cannot be set.
int keep_permissions(int fd, const std::string& path);

// Gives fd the mode bits a file made in folder (a path ending in a
// separator, or "" for the current one) gets: 0666 less the umask or, in a
// folder with a default ACL, what that ACL gives. 1 when they cannot be set.
int give_new_file_permissions(int fd, const std::string& folder);
