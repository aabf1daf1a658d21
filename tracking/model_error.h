// ModelError: a failure of the model runtime, or of a model that does not keep its tensor contract. The
// text is the runtime's own message; the engine logs it as "engine: face model error: %s" and stops.
#pragma once

#include <stdexcept>

namespace qm {

class ModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qm
