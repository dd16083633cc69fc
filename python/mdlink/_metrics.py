"""A client's figures as one dict, for Client.metrics() and the Prometheus
collector (mdlink.prometheus)."""

from ._compiled import _core


def figures(client):
    """What :meth:`Client.metrics` returns."""
    return {
        "connected": bool(client.connected),
        "logged_in": bool(client.logged_in),
        "records": client.received,
        "consumed": client.consumed,
        "dropped": client.dropped,
        "events_dropped": client.events_dropped,
        "callback_errors": client.callback_errors,
        "links": client.link_counters(),
        "late_bounds_us": tuple(_core.LATE_BOUNDS_US),
    }
