// netdelay: holds every packet of an NFQUEUE queue for a fixed time before letting it go, for
// kernels without the netem queueing discipline. In a network namespace with loopback only,
//
//   iptables-legacy -A OUTPUT -o lo -j NFQUEUE --queue-num 0
//   netdelay 0 10 &
//
// delays each packet once on its way out, so a round trip takes 20 ms more: what
// `tc qdisc add dev lo root netem delay 10ms` does where netem exists. The kernel's own TCP
// runs unchanged (windows, slow start, delayed acknowledgements); only the release is ours.
// Runs until killed.
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <libnfnetlink/libnfnetlink.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

struct Held {
    uint32_t id;
    double due;
};

std::deque<Held> held;
double delay = 0.010;

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int Queued(nfq_q_handle*, nfgenmsg*, nfq_data* packet, void*) {
    nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(packet);
    if (header != nullptr) held.push_back({ntohl(header->packet_id), Now() + delay});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: netdelay QUEUE MILLISECONDS\n");
        return 2;
    }
    int queue = std::atoi(argv[1]);
    delay = std::atof(argv[2]) / 1000.0;
    nfq_handle* h = nfq_open();
    if (h == nullptr) {
        std::perror("netdelay: nfq_open");
        return 1;
    }
    nfq_q_handle* q = nfq_create_queue(h, static_cast<uint16_t>(queue), &Queued, nullptr);
    if (q == nullptr || nfq_set_mode(q, NFQNL_COPY_META, 0) < 0) {
        std::perror("netdelay: queue");
        return 1;
    }
    // Room for every packet in flight: a dropped one would cost a retransmission, not a delay.
    nfq_set_queue_maxlen(q, 1 << 16);
    nfq_set_queue_flags(q, NFQA_CFG_F_GSO, NFQA_CFG_F_GSO);
    nfnl_rcvbufsiz(nfq_nfnlh(h), 64 << 20);
    prctl(PR_SET_TIMERSLACK, 1000UL);  // release within a microsecond of the due time
    int fd = nfq_fd(h);
    std::fprintf(stderr, "netdelay: queue %d, %.1f ms\n", queue, delay * 1000);
    char buffer[65536 + 4096] __attribute__((aligned));
    for (;;) {
        double now = Now();
        while (!held.empty() && held.front().due <= now) {
            nfq_set_verdict(q, held.front().id, NF_ACCEPT, 0, nullptr);
            held.pop_front();
        }
        timespec wait{};
        timespec* timeout = nullptr;
        if (!held.empty()) {
            double left = held.front().due - now;
            wait.tv_sec = static_cast<time_t>(left);
            wait.tv_nsec = static_cast<long>((left - static_cast<double>(wait.tv_sec)) * 1e9);
            timeout = &wait;
        }
        pollfd p = {fd, POLLIN, 0};
        if (ppoll(&p, 1, timeout, nullptr) > 0) {
            ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            while (n > 0) {
                nfq_handle_packet(h, buffer, static_cast<int>(n));
                n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            }
            if (n < 0 && errno == ENOBUFS) std::fprintf(stderr, "netdelay: packets lost\n");
        }
    }
}
