#pragma once
// What the tool's commands print on standard output goes through here, so that a write that
// fails (a full device, a closed pipe) is seen: the first failure's error is kept, and the run
// ends telling it ("sorvel: write error: No space left on device") with ExitCode::WriteError.
#include <cstddef>
#include <string_view>

namespace sorvel::tool {

// Writes `text`; false once any write has failed.
bool writeOut(std::string_view text);
bool writeOut(const void* data, std::size_t size);

// Writes what is buffered now (a line the user should see at once); false once any write has
// failed.
bool flushOut();

// The error of the first write that failed, or 0.
int standardOutputError();

// Flushes standard output: 0, or the error of the first write that failed (output written by
// printf included). Done once, as the run ends.
int finishStandardOutput();

}  // namespace sorvel::tool
