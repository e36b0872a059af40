#pragma once

#include "PassThroughModel.h"

namespace tc::bench {

// Counts what the model was asked to generate and how those replies ended, passing everything through. Not
// thread-safe: the bench asks one question at a time.
class CountingModel final : public PassThroughModel {
public:
    using PassThroughModel::PassThroughModel;

    // Counted: asked, and cut, timed out or failed as it ended. The yes/no odds are not counted.
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override;

    int asked = 0;
    int cut = 0;
    int timedOut = 0;
    int failed = 0;
};

} // namespace tc::bench
