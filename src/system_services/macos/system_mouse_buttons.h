// The product's mouse: the left button as the login session sees it, across all event sources.
#pragma once

#include "bridge_core/services.h"

namespace quenra {

class SystemMouseButtons final : public MouseButtons {
  public:
    // Reading the button state needs no permission and no run loop; any thread.
    bool isLeftButtonDown() override;
};

}  // namespace quenra
