#include "settings/shared_state.h"

namespace qm {

SharedState& sharedState() {
    static SharedState state;
    return state;
}

}  // namespace qm
