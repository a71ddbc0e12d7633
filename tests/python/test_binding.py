import itertools

import pytest

import corvanis as cv

L = [0.5, 1.0, 2.0]
BL = [0.0, 0.5, 1.0]
BF = [1.0, 0.8, 0.5]

# (function, positional arguments) for every function of the module
CALLS = [
    (cv.witt_mao_magnification, (L, 1.0, 0.1)),
    (cv.integrated_witt_mao_magnification, (L, 1.0, 0.1)),
    (cv.integrated_flux_map_witt_mao_magnification, (L, 1.0, 0.1, BL, BF)),
    (cv.heyrovsky_magnification, (1.0, 0.5, 1.0, 1.0)),
    (cv.integrated_heyrovsky_magnification, (L, 1.0, 0.1)),
    (cv.integrated_flux_map_heyrovsky_magnification, (L, 1.0, 0.1, BL, BF)),
    (cv.discrete_flux_map_heyrovsky_magnification, (L, 1.0, 0.1, BL, BF)),
]


def _parameters(function):
    return function.__text_signature__.strip("()").split(", ")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: cv.witt_mao_magnification([1.0], 1.0, 0.1, 2.0),
         "witt_mao_magnification() takes 3 positional arguments but 4 were given"),
        (lambda: cv.heyrovsky_magnification(1.0, 0.5, 1.0, 1.0, 1.0, 1.0),
         "heyrovsky_magnification() takes 4 positional arguments but 6 were given"),
        (lambda: cv.witt_mao_magnification([1.0]),
         "witt_mao_magnification() missing 2 required positional arguments: 're' and 'rstar'"),
        (lambda: cv.integrated_flux_map_witt_mao_magnification(),
         "integrated_flux_map_witt_mao_magnification() missing 5 required positional "
         "arguments: 'l', 're', 'rstar', 'bl', and 'bf'"),
        (lambda: cv.integrated_witt_mao_magnification(),
         "integrated_witt_mao_magnification() missing 3 required positional arguments: "
         "'l', 're', and 'rstar'"),
        (lambda: cv.heyrovsky_magnification(1.0, 0.5, 1.0),
         "heyrovsky_magnification() missing 1 required positional argument: 'rstar'"),
        (lambda: cv.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, rstar=0.1, bf=[1.0]),
         "discrete_flux_map_heyrovsky_magnification() missing 1 required positional "
         "argument: 'bl'"),
        (lambda: cv.witt_mao_magnification([1.0], 1.0, 0.1, l=[2.0]),
         "witt_mao_magnification() got multiple values for argument 'l'"),
        (lambda: cv.heyrovsky_magnification(1.0, 0.5, 1.0, 1.0, rstar=2.0),
         "heyrovsky_magnification() got multiple values for argument 'rstar'"),
        # keywords are bound before the test for missing arguments
        (lambda: cv.witt_mao_magnification([1.0], 1.0, rs=0.1),
         "witt_mao_magnification() got an unexpected keyword argument 'rs'"),
        (lambda: cv.witt_mao_magnification([1.0], 1.0, 0.1, R=1.0),
         "witt_mao_magnification() got an unexpected keyword argument 'R'"),
        # binding errors come before any conversion
        (lambda: cv.witt_mao_magnification("abc", "x", 0.1, 2.0),
         "witt_mao_magnification() takes 3 positional arguments but 4 were given"),
        (lambda: cv.witt_mao_magnification("abc", rs=1),
         "witt_mao_magnification() got an unexpected keyword argument 'rs'"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_unexpected_keyword_without_utf8_text_is_named_as_is():
    keyword = "x\ud800"
    with pytest.raises(TypeError) as info:
        cv.witt_mao_magnification([1.0], 1.0, 0.1, **{keyword: 1.0})
    assert str(info.value) == (
        "witt_mao_magnification() got an unexpected keyword argument '" + keyword + "'"
    )


@pytest.mark.parametrize("function, args", CALLS, ids=lambda c: getattr(c, "__name__", ""))
def test_keywords_in_any_order_equal_positional(function, args, assert_same):
    names = _parameters(function)
    expected = function(*args)
    if function is cv.heyrovsky_magnification:
        assert type(expected) is float
    else:
        assert type(expected) is list and len(expected) == len(args[0])
    for order in itertools.islice(itertools.permutations(range(len(names))), 0, None, 7):
        kwargs = {names[i]: args[i] for i in order}
        assert_same(function(**kwargs), expected)
    # a positional prefix with the rest by keyword
    split = len(names) // 2
    assert_same(function(*args[:split], **dict(zip(names[split:], args[split:]))), expected)
