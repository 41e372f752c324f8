#!/usr/bin/env bash
# The demo is not ready yet: the job itself is still being built.
echo "Phonoskew demo: the job is not built yet; 'make test' runs the tests."
