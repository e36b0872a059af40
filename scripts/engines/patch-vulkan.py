#!/usr/bin/env python3
"""Adapts the engine's Vulkan backend, in the build's own unpacked copy, to what we ship.

    patch-vulkan.py <unpacked whisper.cpp tree>

1. Debian 12's Vulkan headers (1.3.239) predate VK_EXT_layer_settings, which the backend uses only to switch on the
   validation layer's best-practice checks: that block is kept for headers that have the extension, and the instance
   is created without it otherwise.
2. The backend reaches Vulkan through its own dispatcher except for vkGetInstanceProcAddr and a few direct calls
   (vkCmdCopyBuffer, vkGetPhysicalDeviceFeatures2). The first comes from libvulkan.so.1 opened at run time, the
   others go through the dispatcher, so the library carries no link to libvulkan: the app starts on a machine
   without it, and the backend then reports no device.

Fails, changing nothing, when the source does not look as expected.
"""
import pathlib
import re
import sys

MARK = "/* tc: adapted for Debian 12 and run-time loading */"

LAYER_BEGIN = "    VkBool32 enable_best_practice = layer_settings;\n"
LAYER_END = ("    vk::InstanceCreateInfo instance_create_info(vk::InstanceCreateFlags{}, &app_info, layers, extensions, "
             "&layer_setting_info);\n")
LAYER_FALLBACK = ("    vk::InstanceCreateInfo instance_create_info(vk::InstanceCreateFlags{}, &app_info, layers, "
                  "extensions);\n")

INCLUDE = "#include <vulkan/vulkan.hpp>\n"
LOADER = MARK + r"""
#include <dlfcn.h>
static PFN_vkGetInstanceProcAddr tc_vk_get_instance_proc_addr() {
    static const PFN_vkGetInstanceProcAddr proc = [] {
        void * lib = dlopen("libvulkan.so.1", RTLD_NOW | RTLD_LOCAL);
        return lib ? reinterpret_cast<PFN_vkGetInstanceProcAddr>(dlsym(lib, "vkGetInstanceProcAddr")) : nullptr;
    }();
    if (!proc) {
        throw vk::SystemError(vk::Result::eErrorInitializationFailed, "libvulkan.so.1 is not installed");
    }
    return proc;
}
#define vkGetInstanceProcAddr tc_vk_get_instance_proc_addr()
"""
# A call of a Vulkan C function by its bare name, not a member, a pointer type or a vk:: wrapper.
DIRECT_CALL = re.compile(r"(?<![A-Za-z0-9_>.:])(vk[A-Z][A-Za-z0-9]*)\s*\(")


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: patch-vulkan.py <whisper.cpp tree>", file=sys.stderr)
        return 2
    path = pathlib.Path(sys.argv[1]) / "ggml/src/ggml-vulkan/ggml-vulkan.cpp"
    text = path.read_text(encoding="utf-8")
    if MARK in text:
        return 0
    begin = text.find(LAYER_BEGIN)
    end = text.find(LAYER_END, begin)
    if begin < 0 or end < 0 or text.count(INCLUDE) != 1:
        print(f"patch-vulkan.py: {path} does not have the expected instance creation", file=sys.stderr)
        return 1
    end += len(LAYER_END)
    block = text[begin:end]
    guarded = ("#if defined(VK_EXT_layer_settings) /* headers from 1.3.261 on */\n" + block + "#else\n" +
               LAYER_FALLBACK + "#endif\n")
    text = text[:begin] + guarded + text[end:]
    direct = sorted({name for name in DIRECT_CALL.findall(text) if name != "vkGetInstanceProcAddr"})
    dispatched = "".join(f"#define {name} VULKAN_HPP_DEFAULT_DISPATCHER.{name}\n" for name in direct)
    text = text.replace(INCLUDE, INCLUDE + LOADER + dispatched, 1)
    path.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
