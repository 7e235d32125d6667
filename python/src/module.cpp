// The `zr._zr` extension: decoding and encoding between ZR streams and NumPy
// arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/encoder/encode_settings.h"
#include "codec/zr.h"
#include "python/src/encode_options.h"
#include "python/src/picture_array.h"
#include "python/src/stream_decoder.h"
#include "tools/stream_info.h"

namespace py = pybind11;

namespace {

py::bytes toBytes(const std::vector<uint8_t>& v)
{
    return py::bytes(reinterpret_cast<const char*>(v.data()), v.size());
}

py::array decode(py::buffer data, bool exact, bool lowMemory, bool sharpen)
{
    py::buffer_info in = data.request();
    const uint8_t* bytes = static_cast<const uint8_t*>(in.ptr);
    size_t size = size_t(in.size * in.itemsize);
    ZrRequest request = decodeRequest(exact, lowMemory, sharpen);
    ZrPicture picture{};
    int32_t status;
    {
        py::gil_scoped_release unlocked;
        status = zrDecode(bytes, size, &request, &picture);
    }
    if (status != 0 || !picture.pixels) {
        zrFree(&picture);
        throwRefusal(status, bytes, size);
    }
    py::array out = pictureArray(picture.pixels, picture.height, picture.width, picture.channels,
                                 picture.bytesPerPixel);
    zrFree(&picture);
    return out;
}

py::dict info(py::buffer data)
{
    py::buffer_info in = data.request();
    const uint8_t* bytes = static_cast<const uint8_t*>(in.ptr);
    size_t size = size_t(in.size * in.itemsize);
    StreamInfo header = inspectBytes(bytes, size);
    if (header.status != 0 || header.endsInHeader)
        throwRefusal(header.status, bytes, size);
    const DecodeSession& h = header.header;
    py::dict d;
    d["height"] = h.height;
    d["width"] = h.width;
    d["channels"] = h.components;
    d["bits_per_sample"] = h.bitsPerSample;
    d["mode"] = h.decodeMode == 0 ? "one-pass" : "progressive";
    d["map_coder"] = h.mapCoder;
    d["value_coder"] = h.valueCoder;
    d["step"] = h.quantStep;
    d["fine_steps"] = h.fineSteps;
    d["boost"] = h.magnitudeBoost;
    d["stretch"] = h.contrastStretch;
    d["levels"] = h.levels;
    return d;
}

OptionValue optionValue(const std::string& name, py::handle value)
{
    if (py::isinstance<py::bool_>(value))
        return value.cast<bool>();
    if (py::isinstance<py::str>(value))
        return value.cast<std::string>();
    if (py::isinstance<py::float_>(value))
        return value.cast<double>();
    if (py::hasattr(value, "__index__"))
        return py::int_(py::reinterpret_borrow<py::object>(value)).cast<int64_t>();
    if (py::isinstance<py::sequence>(value)) {
        std::vector<int64_t> items;
        for (py::handle item : value.cast<py::sequence>()) {
            if (!py::hasattr(item, "__index__"))
                throw py::value_error(name + " takes whole numbers");
            items.push_back(py::int_(py::reinterpret_borrow<py::object>(item)).cast<int64_t>());
        }
        return items;
    }
    if (py::hasattr(value, "__float__"))
        return value.cast<double>();
    throw py::type_error("option " + name + " cannot be " + std::string(py::str(value.get_type())));
}

py::bytes encode(py::array array, py::kwargs options)
{
    EncodeSettings settings;
    std::string error;
    for (auto item : options) {
        std::string name = item.first.cast<std::string>();
        if (item.second.is_none())
            continue;
        if (!applyEncodeOption(name, optionValue(name, item.second), &settings, &error))
            throw py::value_error(error);
    }
    if (!finishEncodeOptions(&settings, &error))
        throw py::value_error(error);

    PictureSamples samples;
    if (!arraySamples(array, settings.bits, &samples, &error))
        throw py::value_error(error);
    EncoderPicture picture = samples.view();

    std::vector<uint8_t> stream;
    bool ok;
    {
        py::gil_scoped_release unlocked;
        EncodeStats stats;
        int32_t step;
        ok = encodeWithSettings(picture, settings, &stream, &step, &stats, &error);
    }
    if (!ok)
        throw py::value_error(error);
    return toBytes(stream);
}

} // namespace

PYBIND11_MODULE(_zr, m)
{
    m.doc() = "Decoding and encoding of ZR pictures";
    static py::exception<ZrDecodeError> zrError(m, "ZrError", PyExc_ValueError);
    zrError.attr("__doc__") = "A stream the decoder refuses; .status holds the decoder's status code.";
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const ZrDecodeError& e) {
            py::object error = py::handle(zrError.ptr())(e.what());
            error.attr("status") = e.status;
            PyErr_SetObject(zrError.ptr(), error.ptr());
        }
    });

    m.def("decode", &decode, py::arg("data"), py::kw_only(), py::arg("exact") = false,
          py::arg("low_memory") = false, py::arg("sharpen") = false,
          "Decodes a ZR stream into an array: rows x columns x 3 (uint8) for colour,\n"
          "rows x columns for grey (uint8, or uint16 deeper than 8 bits).");
    m.def("info", &info, py::arg("data"), "Reads a stream's header into a dict without decoding.");
    m.def("encode", &encode, py::arg("array"),
          "Encodes an array (uint8 colour or grey, uint16 grey) into a ZR stream.\n"
          "Options as zrenc's, in Python spelling; see zr.ENCODE_OPTIONS.");
    m.attr("ENCODE_OPTIONS") = encodeOptionNames();
    m.def("status_text", &zrStatusText, py::arg("status"), "The decoder's name for a status code.");

    py::class_<StreamDecoder>(m, "_StreamDecoder")
        .def(py::init<int32_t, bool, bool, bool>(), py::arg("interval"), py::arg("exact"),
             py::arg("low_memory"), py::arg("sharpen"))
        .def("feed", &StreamDecoder::feed, py::arg("chunk"))
        .def("finish", &StreamDecoder::finish)
        .def("header", &StreamDecoder::header)
        .def("close", &StreamDecoder::close);
}
