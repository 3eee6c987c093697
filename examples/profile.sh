# SPDX-License-Identifier: ISC
# shellcheck shell=sh
# /etc/profile.d/kiosk.sh: takes the kiosk's locale, time zone and desktop
# settings from the system configuration at login.
if kiosk_settings=$(zuvozozave -sq basic desktop); then
    eval "$kiosk_settings"
    LANG=${basic_locale:-C.UTF-8}
    TZ=${basic_timezone:-UTC}
    KIOSK_WALLPAPER=${desktop_wallpaper:-}
    export LANG TZ KIOSK_WALLPAPER
else
    echo "kiosk: settings unavailable (zuvozozave exit status $?)" >&2
fi
unset kiosk_settings
