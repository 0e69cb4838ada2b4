// Data operations on apache with digest authentication, where requests meet a
// challenge first. In a process of its own, so that the pool starts with handles
// that never spoke to another server: a pooled handle keeps the authentication
// scheme it last picked.
#include "dataops_real_cases.h"

namespace dataops_real {

INSTANTIATE_TEST_SUITE_P(Servers, DataOpsRealTest, testing::Values(Case{"apache", "digest", false}),
                         CaseName);

}  // namespace dataops_real
