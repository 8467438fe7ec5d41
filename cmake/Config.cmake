# The build-time configuration: the portal's host names, URLs and name parts.
# Change them here (or with -D on the cmake command line); they reach the code
# through one generated header, ZeltoConfig.h.
set(ZELTO_PORTAL_DOMAIN   "zelto.com"        CACHE STRING "The portal's registered domain (trusted download origin is any host under it)")
set(ZELTO_CONTENT_HOST    "static.zelto.com" CACHE STRING "The product's content server (install options document, start-page ping)")
set(ZELTO_CLICK_HOST      "cc.zelto.com"     CACHE STRING "The click-count endpoint's host")
set(ZELTO_HOME_URL        "http://www.zelto.com/" CACHE STRING "The portal's home page")
set(ZELTO_SEARCH_URL      "http://search.zelto.com/search.zelto?where=nexearch&sm=ies_hty&ie=utf8&query={searchTerms}" CACHE STRING "The portal's search URL")
set(ZELTO_FAVICON_URL     "http://search.zelto.com/favicon.ico" CACHE STRING "The portal's favicon")
set(ZELTO_DOMAIN_LABEL    "zelto"            CACHE STRING "Domain name without its top-level suffix (home-page patterns)")
set(ZELTO_MAIN_SUFFIX     "com"              CACHE STRING "Generic top-level suffix (home-page patterns)")
set(ZELTO_NATIONAL_SUFFIX "co.kr"            CACHE STRING "National two-level suffix (home-page patterns)")
set(ZELTO_JUNIOR_LABEL    "jr"               CACHE STRING "Sub-domain label of the junior site (home-page patterns)")
set(ZELTO_COMPANION_CLSID "{5E2C7A41-9B3D-4F62-A8C1-7D04E9B6F235}" CACHE STRING "Class identifier of the companion control ZeltoOmbrix.dll")

set(ZELTO_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ZeltoConfig.h.in ${ZELTO_GENERATED_DIR}/ZeltoConfig.h @ONLY)
