"""The figures of mdlink clients in a ``prometheus_client`` registry::

    import prometheus_client, mdlink.prometheus
    client = mdlink.Client(...)
    mdlink.prometheus.register(client)
    prometheus_client.start_http_server(9464)

The names are the library's own (``MDLINK_METRICS``, see the monitoring
page), with the label ``client`` naming the client, ``front`` its fronts and,
for a client made with ``links``, ``link`` its link's number; the package's
own queues add ``mdlink_python_*``. A client is read at each scrape and
never kept alive by its collector: once it is gone its series go too.
"""

import itertools
import weakref

from prometheus_client.core import REGISTRY, CounterMetricFamily, GaugeMetricFamily, HistogramMetricFamily

from ._metrics import figures

__all__ = ["register", "Collector"]

_numbers = itertools.count(1)

# (name, type, help, the key of Client.metrics())
_CLIENT = [
    ("mdlink_python_consumed", "counter", "Depth records the application took from the queue.", "consumed"),
    ("mdlink_python_dropped", "counter", "Depth records dropped because the queue was full.", "dropped"),
    ("mdlink_python_events_dropped", "counter", "Events dropped because the event queue was full.",
     "events_dropped"),
    ("mdlink_python_callback_errors", "counter", "Exceptions raised by the application's callbacks.",
     "callback_errors"),
]
# (name, type, help, the key of a link's counters)
_LINK = [
    ("mdlink_connected", "gauge", "1 while the connection to the front is up.", "up"),
    ("mdlink_logged_in", "gauge", "1 while logged in on the connection.", "logged_in"),
    ("mdlink_reconnections", "counter", "Connections made after the first.", "reconnections"),
    ("mdlink_login_refusals", "counter", "Logins the front refused.", "logins_refused"),
    ("mdlink_records", "counter", "Depth records received.", "records"),
    ("mdlink_redundant_first", "counter", "Depth records this link delivered first.", "first"),
    ("mdlink_redundant_copies", "counter", "Copies of delivered records this link brought later, dropped.",
     "copies"),
    ("mdlink_redundant_late_copies", "counter", "Of those copies, the ones 8 or more deliveries back.",
     "late_copies"),
    ("mdlink_redundant_older", "counter", "Records older than the last delivered, dropped.", "older"),
    ("mdlink_redundant_held", "counter", "Records held while the link joined ahead of the others.", "held"),
]


def _family(name, kind, doc, labels):
    # prometheus_client adds _total to a counter's samples itself.
    maker = CounterMetricFamily if kind == "counter" else GaugeMetricFamily
    return maker(name, doc, labels=labels)


class Collector:
    """Reads one client at each scrape (see :func:`register`)."""

    def __init__(self, client, name=None):
        self._client = weakref.ref(client)
        self._name = str(next(_numbers)) if name is None else str(name)
        self._fronts = ",".join(client.fronts)

    def collect(self):
        client = self._client()
        if client is None:
            return
        f = figures(client)
        base = ["client", "front"]
        values = [self._name, self._fronts]
        if not f["links"]:
            # One link: the client's own state is the link's.
            link = {"up": f["connected"], "logged_in": f["logged_in"], "records": f["records"]}
            for name, kind, doc, key in _LINK[:5]:
                if key in link:
                    fam = _family(name, kind, doc, base)
                    fam.add_metric(values, float(link[key]))
                    yield fam
        else:
            labels = base[:1] + ["front", "link"]
            for name, kind, doc, key in _LINK:
                fam = _family(name, kind, doc, labels)
                for k, link in enumerate(f["links"]):
                    fam.add_metric([self._name, link["fronts"], str(k)], float(link[key]))
                yield fam
            age = GaugeMetricFamily("mdlink_last_record_age_seconds", "Time since the last depth record.",
                                    labels=labels)
            for k, link in enumerate(f["links"]):
                if link["last_record_age"] is not None:
                    age.add_metric([self._name, link["fronts"], str(k)], link["last_record_age"])
            yield age
            yield self._lateness(f, labels)
        for name, kind, doc, key in _CLIENT:
            fam = _family(name, kind, doc, base)
            fam.add_metric(values, float(f[key]))
            yield fam

    def _lateness(self, f, labels):
        fam = HistogramMetricFamily(
            "mdlink_redundant_lateness_seconds",
            "How long after the first copy of a record this link brought its own (one record a "
            "millisecond timed).", labels=labels)
        bounds = [b / 1e6 for b in f["late_bounds_us"]]
        for k, link in enumerate(f["links"]):
            running = 0
            buckets = []
            for bound, count in zip(bounds + [float("inf")], link["late"]):
                running += count
                buckets.append(("+Inf" if bound == float("inf") else repr(bound), running))
            fam.add_metric([self._name, link["fronts"], str(k)], buckets, link["late_sum_us"] / 1e6)
        return fam


def register(client, registry=None, name=None):
    """Adds a collector of ``client``'s figures to ``registry`` (the default
    registry of ``prometheus_client`` when None) and returns it, for
    ``registry.unregister``. ``name``: the ``client`` label (by default the
    client's number in this process, 1, 2, ...)."""
    collector = Collector(client, name)
    (REGISTRY if registry is None else registry).register(collector)
    return collector
