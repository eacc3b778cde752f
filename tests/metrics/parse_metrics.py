#!/usr/bin/python3
"""Reads a /metrics page (a file, or an http:// address) with the Prometheus client's own
text parser and prints one line per sample: "name|label=value,...|value", labels sorted.
Exits 1 with the parser's message when the page is not valid text format."""
import sys
import urllib.request

from prometheus_client.parser import text_string_to_metric_families


def main(source):
    if source.startswith("http://"):
        with urllib.request.urlopen(source, timeout=10) as response:
            content_type = response.headers.get("Content-Type", "")
            text = response.read().decode("utf-8")
        print("content-type|" + content_type)
    else:
        with open(source, encoding="utf-8") as page:
            text = page.read()
    try:
        for family in text_string_to_metric_families(text):
            for sample in family.samples:
                labels = ",".join("%s=%s" % item for item in sorted(sample.labels.items()))
                print("%s|%s|%r" % (sample.name, labels, sample.value))
    except Exception as error:  # the parser raises ValueError and others on bad input
        print("parse error: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
