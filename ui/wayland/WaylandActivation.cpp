#include "WaylandActivation.h"

#include "xdg-activation-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstring>

namespace {

template <auto fnDestroy> struct ProxyDeleter {
    template <typename T> void operator()(T* p) const { fnDestroy(p); }
};

using WrapperPtr = std::unique_ptr<wl_display, ProxyDeleter<wl_proxy_wrapper_destroy>>;
using QueuePtr = std::unique_ptr<wl_event_queue, ProxyDeleter<wl_event_queue_destroy>>;
using RegistryPtr = std::unique_ptr<wl_registry, ProxyDeleter<wl_registry_destroy>>;
using ActivationPtr = std::unique_ptr<xdg_activation_v1, ProxyDeleter<xdg_activation_v1_destroy>>;
using TokenPtr =
    std::unique_ptr<xdg_activation_token_v1, ProxyDeleter<xdg_activation_token_v1_destroy>>;

// A compositor that answers no commit within this many round trips gives no token.
constexpr int kMaxRoundTrips = 8;

} // namespace

// Declared in this order so that they are destroyed children first.
struct CWaylandActivation::Objects {
    wl_display* pDisplay = nullptr;
    QueuePtr pQueue;
    WrapperPtr pWrapper;
    RegistryPtr pRegistry;
    ActivationPtr pActivation;
};

namespace {

void OnGlobal(void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pInterface,
              std::uint32_t /*nVersion*/) {
    auto& activation = *static_cast<ActivationPtr*>(pData);
    if (!activation && std::strcmp(pInterface, xdg_activation_v1_interface.name) == 0)
        activation.reset(static_cast<xdg_activation_v1*>(
            wl_registry_bind(pRegistry, nName, &xdg_activation_v1_interface, 1)));
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener{OnGlobal, OnGlobalRemove};

void OnTokenDone(void* pData, xdg_activation_token_v1*, const char* pToken) {
    *static_cast<std::string*>(pData) = pToken;
}

constexpr xdg_activation_token_v1_listener kTokenListener{OnTokenDone};

} // namespace

CWaylandActivation::CWaylandActivation(wl_display* pDisplay)
    : m_pObjects(std::make_unique<Objects>()) {
    Objects& o = *m_pObjects;
    o.pDisplay = pDisplay;
    if (!pDisplay)
        return;
    o.pQueue.reset(wl_display_create_queue(pDisplay));
    o.pWrapper.reset(static_cast<wl_display*>(wl_proxy_create_wrapper(pDisplay)));
    if (!o.pQueue || !o.pWrapper)
        return;
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(o.pWrapper.get()), o.pQueue.get());
    o.pRegistry.reset(wl_display_get_registry(o.pWrapper.get()));
    if (!o.pRegistry)
        return;
    wl_registry_add_listener(o.pRegistry.get(), &kRegistryListener, &o.pActivation);
    wl_display_roundtrip_queue(pDisplay, o.pQueue.get());
}

CWaylandActivation::~CWaylandActivation() {
    if (m_pObjects->pActivation) {
        m_pObjects->pActivation.reset();
        wl_display_flush(m_pObjects->pDisplay);
    }
}

bool CWaylandActivation::IsAvailable() const {
    return m_pObjects->pActivation != nullptr;
}

std::string CWaylandActivation::RequestToken(wl_surface* pSurface, const std::string& strAppId) {
    std::string strToken;
    if (!IsAvailable())
        return strToken;
    Objects& o = *m_pObjects;
    const TokenPtr pToken(xdg_activation_v1_get_activation_token(o.pActivation.get()));
    if (!pToken)
        return strToken;
    xdg_activation_token_v1_add_listener(pToken.get(), &kTokenListener, &strToken);
    if (pSurface)
        xdg_activation_token_v1_set_surface(pToken.get(), pSurface);
    if (!strAppId.empty())
        xdg_activation_token_v1_set_app_id(pToken.get(), strAppId.c_str());
    xdg_activation_token_v1_commit(pToken.get());
    for (int i = 0; i < kMaxRoundTrips && strToken.empty(); ++i) {
        if (wl_display_roundtrip_queue(o.pDisplay, o.pQueue.get()) < 0)
            break;
    }
    return strToken;
}

void CWaylandActivation::Activate(const std::string& strToken, wl_surface* pSurface) {
    if (!IsAvailable() || strToken.empty() || !pSurface)
        return;
    xdg_activation_v1_activate(m_pObjects->pActivation.get(), strToken.c_str(), pSurface);
    wl_display_flush(m_pObjects->pDisplay);
}
