#pragma once

#include "PassThroughModel.h"

namespace tc::bench {

// Presents a base model as instruction-tuned, to show what its own answers would be; everything else passes through.
class ForcedChatModel final : public PassThroughModel {
public:
    using PassThroughModel::PassThroughModel;

    // Always available, whatever the file is.
    Availability availability() override { return Availability::available; }
};

} // namespace tc::bench
