#include "support/test_host.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

template <typename T>
T Resolve(void* handle, const char* name) {
    dlerror();
    void* symbol = dlsym(handle, name);
    const char* failure = dlerror();
    if (failure != nullptr || symbol == nullptr)
        throw std::runtime_error(std::string("entry point missing: ") + name +
                                 (failure != nullptr ? std::string(": ") + failure : ""));
    return reinterpret_cast<T>(symbol);
}

}  // namespace

int ClosedLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

std::string ClosedLoopbackUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + path;
}

void ProtocolReleaser::operator()(IProtocol_V2* protocol) const {
    if (protocol == nullptr) return;
    protocol->Release();
    if (live) --*live;
}

TestHost::TestHost(const std::string& path, bool bindLogger) : path_(path) {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* failure = dlerror();
        throw std::runtime_error("cannot load " + path_ + ": " + (failure ? failure : "?"));
    }
    try {
        api_.GetSupports = Resolve<GetSupports_t>(handle_, "GetSupports");
        api_.GetProtocolVersion = Resolve<GetProtocolVersion_t>(handle_, "GetProtocolVersion");
        api_.GetSupportProtocol = Resolve<GetSupportProtocol_t>(handle_, "GetSupportProtocol");
        api_.FreeP = Resolve<FreeP_t>(handle_, "FreeP");
        api_.BindLogger = Resolve<BindLogger_t>(handle_, "BindLogger");
        api_.UnbindLogger = Resolve<UnbindLogger_t>(handle_, "UnbindLogger");
        api_.BindAsyncQ = Resolve<BindAsyncQ_t>(handle_, "BindAsyncQ");
        api_.UnbindAsyncQ = Resolve<UnbindAsyncQ_t>(handle_, "UnbindAsyncQ");
        api_.GetProtocol = Resolve<GetProtocol_t>(handle_, "GetProtocol");
    } catch (...) {
        dlclose(handle_);
        throw;
    }
    if (bindLogger && !api_.BindLogger(&logger_)) {
        dlclose(handle_);
        throw std::runtime_error("BindLogger refused the test logger");
    }
}

TestHost::~TestHost() {
    api_.UnbindLogger();
    if (live_->load() != 0) {
        // Unloading now would leave those objects pointing into unmapped code.
        ADD_FAILURE() << live_->load() << " protocol object(s) outlive the test host; "
                      << "the library stays loaded";
        return;
    }
    dlclose(handle_);
}

ProtocolPtr TestHost::Create(const std::string& url, IProtocolManager* manager) {
    IProtocol_V2* protocol = nullptr;
    if (!api_.GetProtocol(url.c_str(), manager, &protocol) || protocol == nullptr) {
        ADD_FAILURE() << "GetProtocol refused " << url;
        return ProtocolPtr(nullptr, ProtocolReleaser(live_));
    }
    ++*live_;
    return ProtocolPtr(protocol, ProtocolReleaser(live_));
}
