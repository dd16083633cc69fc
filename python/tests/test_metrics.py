"""Client.metrics() and the Prometheus collector: the same figures, read
at each scrape, in the library's names."""

import gc

import pytest

import mdlink
from conftest import CREDENTIALS, optional, wait_until


def scrape(registry):
    optional("prometheus_client")
    from prometheus_client import generate_latest, parser
    text = generate_latest(registry).decode()
    return {(s.name, tuple(sorted(s.labels.items()))): s.value
            for family in parser.text_string_to_metric_families(text) for s in family.samples}


def registry():
    optional("prometheus_client")
    from prometheus_client import CollectorRegistry
    return CollectorRegistry()



@pytest.mark.parametrize("links", [1, 2])
def test_the_collector_reads_the_client_at_each_scrape(front, links):
    feed = ("--shared-feed", "--rate", "100", "--instruments", "au2612", "--seed", "3")
    fronts = [front(*feed) for _ in range(links)]
    addresses = [f.address for f in fronts]
    reg = registry()
    from mdlink import prometheus
    with mdlink.Client(addresses, links=links, **CREDENTIALS) as client:
        prometheus.register(client, reg, name="desk")
        client.wait_login(timeout=30)
        client.subscribe(["au2612"])
        for _ in range(5):
            client.next_tick(timeout=30)
        figures = client.metrics()
        assert figures["records"] >= 5 and figures["consumed"] >= 5 and figures["dropped"] == 0
        assert figures["logged_in"] and len(figures["links"]) == (links if links > 1 else 0)
        if links == 1:
            labels = (("client", "desk"), ("front", addresses[0]))
            page = scrape(reg)
            assert page[("mdlink_logged_in", labels)] == 1
            assert page[("mdlink_records_total", labels)] >= 5
            assert page[("mdlink_python_consumed_total", labels)] >= 5
        else:
            wait_until(lambda: all(c["logged_in"] for c in client.link_counters()), what="both links")
            page = scrape(reg)
            for k, address in enumerate(addresses):
                labels = (("client", "desk"), ("front", address), ("link", str(k)))
                assert page[("mdlink_logged_in", labels)] == 1
                inf = page[("mdlink_redundant_lateness_seconds_bucket", tuple(sorted(labels + (("le", "+Inf"),))))]
                assert inf == page[("mdlink_redundant_lateness_seconds_count", labels)]
            assert sum(v for (name, _), v in page.items() if name == "mdlink_redundant_first_total") >= 5
            fronts[0].stop()
            wait_until(lambda: scrape(reg)[("mdlink_logged_in", (("client", "desk"), ("front", addresses[0]),
                                                                 ("link", "0")))] == 0, what="link 0 lost")
    del client
    gc.collect()
    assert not [key for key in scrape(reg) if key[0].startswith("mdlink_")], "a client gone takes its series"
