#!/usr/bin/env bash
# Generates the Japanese UTF-8 locale that the end-to-end tests run the installer under
# (Wine takes the user's locale and ANSI code page 932 from it). Run as root; safe to run
# again. Needs the Debian package "locales".
set -euo pipefail
if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "setup-locales: ja_JP.UTF-8 is missing; run this script as root" >&2
  exit 1
fi
if ! command -v localedef >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends locales
fi
localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
