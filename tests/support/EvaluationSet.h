#pragma once

#include <filesystem>

namespace tc::test {

// The evaluation set's folder: TC_EVAL_DIR, or what scripts/make-eval-set prints; empty when unknown.
std::filesystem::path evalSetDir(const std::filesystem::path& sourceDir);

} // namespace tc::test
