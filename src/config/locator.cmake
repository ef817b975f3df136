# Game folder locator: the rules and the resolve order; the folder browser is in widgets.
target_sources(yfzs_config PRIVATE locator.h locator.cpp)
