# Shortcuts for the scripts in scripts/.
.PHONY: test run bench

test:
	scripts/test.sh

run:
	scripts/run.sh

bench:
	scripts/bench.sh
