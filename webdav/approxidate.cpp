#include "approxidate.h"
// PLACEHOLDER: replaced by the real implementation. (local stub, not committed)
#include <ctime>
#include <cstring>
#include <cstdio>
int approxidate(const char*, struct timeval* tv) { gettimeofday(tv, nullptr); return -1; }
int parse_date_basic(const char*, struct timeval*, int*) { return -1; }
std::string convert_last_modified_to_rfc3339(std::string text) {
    struct tm tm; memset(&tm, 0, sizeof tm); time_t t = 0;
    const char* e;
    if ((e = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm))) t = timegm(&tm);
    else if ((e = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm))) { t = timegm(&tm);
        while (*e=='.'||(*e>='0'&&*e<='9')) ++e;
        int h=0,m=0; if (sscanf(e, "+%d:%d", &h,&m)==2) t -= h*3600+m*60; }
    gmtime_r(&t, &tm); char b[32];
    snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", tm.tm_year+1900, tm.tm_mon+1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return b; }
