#include "callbacks.h"
// PLACEHOLDER: replaced by the real implementation.
size_t write_callback_ev_func(void*, size_t size, size_t nmemb, void*) { return size * nmemb; }
size_t read_callback_buf_func(void*, size_t, size_t, void*) { return 0; }
int read_callback_buf_seek_func(void*, long long, int) { return 1; }
int _CURL_PROGRESS(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return 0; }
int _sockopt_callback(void*, curl_socket_t, curlsocktype) { return 0; }
