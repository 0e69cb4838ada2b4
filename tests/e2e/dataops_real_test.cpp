// Data operations on lighttpd and apache with basic authentication.
#include "dataops_real_cases.h"

namespace dataops_real {

INSTANTIATE_TEST_SUITE_P(Servers, DataOpsRealTest,
                         testing::Values(Case{"lighttpd", "basic", true},
                                         Case{"apache", "basic", true}),
                         CaseName);

}  // namespace dataops_real
