// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/routes.h"

namespace server {

namespace {

// Each route once: no two of a side with one path and method, and no path with a slash at
// either end (a trailing slash names no route).
constexpr bool wellFormed()
{
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const std::string_view path = routes[i].path;
        if (!path.empty() && (path.front() == '/' || path.back() == '/'))
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (routes[j].side == routes[i].side && routes[j].method == routes[i].method && routes[j].path == path)
                return false;
    }
    return true;
}
static_assert(wellFormed());

} // namespace

std::optional<Side> sideNamed(std::string_view version, std::string_view kind)
{
    const std::string prefix = "/api/" + std::string(version) + "/" + std::string(kind) + "/";
    for (const Side side : {Side::pupils, Side::teachers})
        if (prefix == sidePrefix(side))
            return side;
    return std::nullopt;
}

std::string routePath(const Route& route, std::string_view key)
{
    std::string path(sidePrefix(route.side));
    path += key;
    if (!route.path.empty())
        path.append("/").append(route.path);
    return path;
}

RouteMatch findRoute(Side side, std::string_view method, std::optional<std::string_view> rest)
{
    const std::optional<Method> m = method == "POST"                      ? std::optional(Method::post)
                                    : method == "GET" || method == "HEAD" ? std::optional(Method::get)
                                                                          : std::nullopt;
    RouteMatch other{404, "not found"};
    for (const Route& route : routes) {
        // "" is the key itself, with no slash after it; any other path follows a slash.
        const bool samePath = rest ? !route.path.empty() && route.path == *rest : route.path.empty();
        if (route.side != side || !samePath)
            continue;
        if (route.method == m)
            return {0, {}, &route};
        other = {405, "method not allowed", &route};
    }
    return other;
}

} // namespace server
