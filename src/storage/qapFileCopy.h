// Transfers between server files and buffers: a whole file replaced by a buffer, a whole file
// read into a VARCHAR result, and the new version of a file that replaces it.
#pragma once

#include "qapFile.h"
#include "qapMsg.h"
#include "qapOwned.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

struct QapRoutineCtx;

// Replaces a whole file with a buffer (see QapReplacement); 0, or -1 with SQLSTATE and message.
int qapBuf2File(QapRoutineCtx *ctx, const char *buf, int32_t length, const QapWriteTarget &target,
                QapStatus err);
// Reads a whole file into a VARCHAR result, converted to the database code page.
int qapFile2Varchar(QapRoutineCtx *ctx, QapOpenFile &file, char *out, int32_t capacity,
                    QapStatus err);
// Writes a whole buffer to a descriptor; false on any failure.
bool qapWriteAll(int fd, const char *buf, size_t length);

// A new version of a server file, allowed for writing: written to a new file in the target's
// directory, created exclusively and private (0600) so that no one else can open it while it is
// written, which on commit takes the target's mode and group (a group the server cannot give it
// loses its group bits), or 0666 less the umask, is synced and replaces the target. Until then,
// and on any failure, the target stays as it was, and the new file goes with the object.
class QapReplacement {
public:
    QapReplacement() = default;
    ~QapReplacement();
    QapReplacement(const QapReplacement &) = delete;
    QapReplacement &operator=(const QapReplacement &) = delete;
    // 0, or -1 with errno as the target's error() (EINVAL: the target is not a regular file).
    int open(const QapWriteTarget &target);
    int fd() const { return file_.get(); }
    // Syncs the new file, renames it over the target and syncs the directory; 0 or -1.
    int commit();

private:
    QapFd dir_;
    QapFd file_;
    std::string base_;
    std::string temp_;
    mode_t mode_ = 0600;
    gid_t group_ = static_cast<gid_t>(-1); // none: the group it was created with
};
