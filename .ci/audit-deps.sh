#!/usr/bin/env bash
# The Debian packages of the companion tools and their tests: Eigen for the tools' linear
# algebra (the build needs it), an SVG parser and renderer that the tests check the pictures
# with, and scipy as an independent reader of the Matrix Market files (the tests skip those
# checks, saying so, where the programs are missing).
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/need-packages librsvg2-bin python3-scipy libeigen3-dev libxml2-utils
