#ifndef GXE_CLI_WHOLE_FILE_H_
#define GXE_CLI_WHOLE_FILE_H_

// A file written whole or not at all. The text goes to a temporary file in
// the target's folder, which replaces the target (rename, after fsync) only
// when commit() succeeds; otherwise the temporary file is removed, and the
// target is never touched, half-written or truncated. A SIGINT, SIGTERM,
// SIGHUP or SIGQUIT during the writing removes the temporary file too (see
// stop_on_signal); SIGKILL cannot be caught and leaves it.

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace gxe::cli {

class WholeFile {
 public:
  explicit WholeFile(std::string path);
  ~WholeFile();  // discards what was not committed
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;

  // Creates the temporary file. False, with problem(), when the folder does
  // not exist or cannot be written, or the target is a folder, not a regular
  // file (a device or a pipe) or not writable. A symbolic link is kept: the
  // file it names is replaced, or created when it does not exist yet. The new
  // file has the permissions of the one it replaces, without the set-user-ID,
  // set-group-ID and sticky bits. One WholeFile at a time may be open.
  bool open();
  std::ostream& stream();
  // Writes out, syncs, and renames over the target; then syncs the folder so
  // the new name survives a crash. False, with problem(), when any step fails
  // (the temporary file is then removed).
  bool commit();
  // Removes the temporary file.
  void discard();

  const std::string& problem() const { return problem_; }
  // The temporary file's descriptor while it is open, through which another
  // writer (a child process) may fill it in place of stream(). Once the
  // temporary name is removed, nothing written through it has a name.
  int descriptor() const { return fd_; }

 private:
  class Buffer;
  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
  std::string problem_;
};

// Why `path` cannot name a file written whole, or "": it is empty, its
// symbolic links loop, or it is too long once the temporary name's suffix is
// added (for the whole path, or for its last part in its folder, whose
// file system sets the longest name). Needs no calculation, so it is checked
// with the options.
std::string file_name_problem(const std::string& path);

// The file that writing to `path` replaces: `path` itself, or where the chain
// of symbolic links starting at it ends, a file that need not exist yet.
// Empty when the links loop.
std::string link_target(const std::string& path);

// Handles SIGINT, SIGTERM, SIGHUP (the terminal or the connection closed)
// and SIGQUIT from now on: removes the temporary file of the open WholeFile,
// if any, writes `message` (one line) to the error stream and ends the
// program by the same signal, as if it had not been caught, so the shell
// sees an interrupted command. Async-signal-safe: unlink, write, sigaction,
// raise.
void stop_on_signal(std::string_view message);

// In a child process: those signals take their default action again, so the
// child never removes the parent's temporary file.
void default_stop_signals();

}  // namespace gxe::cli

#endif  // GXE_CLI_WHOLE_FILE_H_
