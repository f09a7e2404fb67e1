// Placeholder: the functions of this family are not built yet.
#include "arcus/arcus.hpp"

namespace {

const PyMethodDef METHODS[] = {ARCUS_METHODS_END};
const pv::CEntry ENTRIES[] = {ARCUS_ENTRIES_END};

}  // namespace

const arcus::Family arcus::family_approx = {METHODS, ENTRIES};
