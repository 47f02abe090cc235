"""The quarlo Django app: the ``quarlo`` template tag library."""

from django.apps import AppConfig


class QuarloConfig(AppConfig):
    name = "quarlo.django"
    label = "quarlo"
    verbose_name = "quarlo"
