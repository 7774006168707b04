#ifndef GXE_CLI_STATUS_H_
#define GXE_CLI_STATUS_H_

// Exit statuses of the command line, as grep and diff use them: a
// calculation without an answer is not wrong use.
namespace gxe::cli {

inline constexpr int kAllAnswered = 0;     // every row answered
inline constexpr int kSomeUnanswered = 1;  // some rows without an answer (their error says why)
inline constexpr int kWrongUse = 2;        // a bad option or value: nothing calculated
inline constexpr int kOutputFailure = 4;   // the output, a file or a figure not written

}  // namespace gxe::cli

#endif  // GXE_CLI_STATUS_H_
